"""The page of hairlab serve in headless Chromium: a picture that refines, a slider that changes the
picture and the shot, quick changes that all arrive, an enable condition that disables its control, a preset, a saved look that
`hairlab render --look` renders. Takes the README's screenshot (SCREENSHOT=path)."""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from serve_support import HAIRLAB, Server  # noqa: E402

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    webdriver = None

CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
MISSING = webdriver is None or not os.path.exists(CHROMEDRIVER) or not shutil.which("chromium")


@unittest.skipIf(MISSING, "chromium, chromium-driver or python3-selenium is not installed (scripts/deps installs them)")
class Page(unittest.TestCase):
    def setUp(self):
        self.server = Server("--scene", "swatch", "--res", "320x180", "--strands", "2000", "--spp", "256")
        options = webdriver.ChromeOptions()
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--window-size=1400,1000"]:
            options.add_argument(arg)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.wait = WebDriverWait(self.driver, 60, poll_frequency=0.02)

    def tearDown(self):
        self.driver.quit()
        self.server.__exit__()

    def samples(self):
        return int(self.driver.find_element(By.ID, "samples").get_attribute("data-samples") or -1)

    def row(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, f'.param[data-name="{name}"]')

    def shot_value(self, name):
        return self.server.json("GET", "/api/shot")["looks"][0]["parameters"][name]

    def set_input(self, name, kind, value):
        """Sets a control as a user would, found afresh (the editor is rebuilt after changes)."""
        self.driver.execute_script(
            "const e = document.querySelector(`.param[data-name='${arguments[0]}'] input[type=${arguments[1]}]`);"
            "e.value = arguments[2]; e.dispatchEvent(new Event('input')); e.dispatchEvent(new Event('change'));",
            name, kind, value)

    def test_page_drives_the_shot(self):
        d = self.driver
        d.get(self.server.url + "/")
        self.wait.until(lambda _: self.samples() >= 16)
        self.assertEqual(d.find_element(By.CSS_SELECTOR, "#tabs button.active").text, "Quor Hair Next")
        label = self.row("melanin").find_element(By.CLASS_NAME, "name")
        self.assertEqual(label.get_attribute("textContent"), "melanin")  # no displayName: the name
        self.assertIn("melanin content", self.row("melanin").get_attribute("title"))

        # A slider changes the shot and the picture.
        before = d.find_element(By.ID, "live").get_attribute("src")
        version = int(d.find_element(By.ID, "version").text[1:])
        self.set_input("melanin", "range", "0.85")
        self.wait.until(lambda _: abs(self.shot_value("melanin") - 0.85) < 1e-6)
        seen = set()
        self.wait.until(lambda _: int(d.find_element(By.ID, "version").text[1:]) > version)
        self.wait.until(lambda _: seen.add(self.samples()) or self.samples() >= 16)
        self.assertGreaterEqual(len(seen), 2, f"the picture did not refine: {sorted(seen)}")
        self.assertNotEqual(d.find_element(By.ID, "live").get_attribute("src"), before)

        # A preset applies its values.
        Select(d.find_element(By.ID, "preset")).select_by_value("black")
        self.wait.until(lambda _: abs(self.shot_value("melanin") - 0.9) < 1e-6)

        # A value outside the hard limits is refused with the command line's message.
        self.set_input("melanin", "number", "4")
        self.wait.until(lambda _: "outside the allowed range" in d.find_element(By.ID, "message").text)

        # Saving writes a look file the command line renders.
        self.set_input("glossiness", "range", "0.75")
        self.wait.until(lambda _: abs(self.shot_value("glossiness") - 0.75) < 1e-6)
        self.wait.until(lambda _: self.samples() >= 4)
        if os.environ.get("SCREENSHOT"):
            d.save_screenshot(os.environ["SCREENSHOT"])
        name = d.find_element(By.ID, "save-name")
        name.clear()
        name.send_keys("browser.json")
        d.find_element(By.ID, "save").click()
        look = os.path.join(self.server.root, "browser.json")
        self.wait.until(lambda _: os.path.exists(look))
        out = subprocess.run([HAIRLAB, "render", "--look", look, "--spp", "1", "-q",
                              "-o", os.path.join(self.server.root, "browser.png")], capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)

        # Another type: its enable condition disables a control until the switch allows it.
        Select(d.find_element(By.ID, "type")).select_by_value("BRDFHair3")
        self.wait.until(lambda _: self.server.json("GET", "/api/shot")["looks"][0]["type"] == "BRDFHair3")
        self.wait.until(lambda _: d.find_elements(By.CSS_SELECTOR, '.param[data-name="secondary_specular"]'))
        probe = ("const r = document.querySelector('.param[data-name=secondary_specular]');"
                 "return [r.classList.contains('disabled'), r.querySelector('input[type=color]').disabled];")
        self.assertEqual(d.execute_script(probe), [True, True])
        d.execute_script("document.querySelector('.param[data-name=secondary_lock_to_transmission] "
                         "input[type=checkbox]').click();")
        self.wait.until(lambda _: d.execute_script(probe) == [False, False])
        self.assertIs(self.shot_value("secondary_lock_to_transmission"), False)

        # Changes made faster than the server answers all arrive, in order, and the page keeps
        # the last answer.
        d.execute_script("putShot((s) => { s.lighting.exposure = 0.5; }); setParam('primary_glossiness', 0.6);"
                         "putShot((s) => { s.render.spp = 64; });")
        self.wait.until(lambda _: self.server.json("GET", "/api/shot")["render"]["spp"] == 64)
        shot = self.server.json("GET", "/api/shot")
        self.assertEqual([shot["lighting"]["exposure"], shot["looks"][0]["parameters"]["primary_glossiness"]],
                         [0.5, 0.6])
        self.wait.until(lambda _: d.execute_script("return [state.shot.lighting.exposure, state.shot.render.spp,"
                                                   " look().parameters.primary_glossiness]") == [0.5, 64, 0.6])


if __name__ == "__main__":
    unittest.main()
