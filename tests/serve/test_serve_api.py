"""The API of hairlab serve: the contract, the refusals in the command line's words, and the root."""
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from serve_support import HAIRLAB, Server, param  # noqa: E402


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        cls.addClassCleanup(cls.server.__exit__)

    def test_page_is_served_from_the_binary(self):
        for path, kind in [("/", "text/html"), ("/app.js", "text/javascript"), ("/style.css", "text/css")]:
            status, headers, body = self.server.request("GET", path)
            self.assertEqual((status, headers["Content-Type"].startswith(kind)), (200, True), path)
            self.assertNotIn(b"https://", body)  # nothing from the internet

    def test_types_carry_parsed_hints(self):
        types = self.server.json("GET", "/api/types")
        plugins = {t["name"]: t for t in types["plugins"]}
        self.assertEqual(set(plugins), {"BRDFHair", "BRDFHair2", "BRDFHair3", "BRDFHair4"})
        self.assertEqual(plugins["BRDFHair4"]["type_hints"], {"gpuSupport": "partial"})
        params = {p["name"]: p for p in plugins["BRDFHair4"]["parameters"]}
        melanin = [params["melanin"]["hint"][k] for k in ("minValue", "maxValue", "startTab", "startRollout")]
        self.assertEqual(melanin, [0, 1, "Quor Hair Next", "General Parameters"])
        self.assertEqual(params["highlight_shift"]["hint"]["softMaxValue"], 10)
        hints = [p["hint"] for t in types["plugins"] for p in t["parameters"]]
        enables = [h["enable"] for h in hints if "enable" in h]
        self.assertTrue(enables and all(set(e) == {"parameter", "value"} for e in enables))
        # The irregular "maxValue(100000)" gives no limit, as on the command line.
        self.assertIn("maxValue(100000)", [u for h in hints for u in h.get("unparsed", [])])
        self.assertEqual(types["preset_type"], "BRDFHair4")
        self.assertTrue(types["presets"] and plugins["BRDFHair4"]["curated"])

    def test_shot_round_trip_and_parameter_change_make_new_versions(self):
        s = self.server
        shot = s.json("GET", "/api/shot")
        self.assertEqual((shot["subject"], shot["render"]["width"]), ("swatch", 96))
        before = s.json("GET", "/api/status")["version"]
        self.assertEqual(s.json("PUT", "/api/shot", shot)["looks"], shot["looks"])
        version = s.json("POST", "/api/param", param(value=0.7))["version"]
        self.assertGreater(version, before)
        self.assertEqual(int(s.wait_samples(8, version)["X-Samples"]), 8)
        self.assertEqual(s.json("GET", "/api/status")["picture"], version)
        self.assertEqual(s.json("GET", "/api/shot")["looks"][0]["parameters"]["melanin"], 0.7)
        # null unconnects a texture slot; the shot says so.
        s.json("POST", "/api/param", param(name="dye_color", value=None))
        self.assertIsNone(s.json("GET", "/api/shot")["looks"][0]["parameters"]["dye_color"])
        s.json("POST", "/api/param", param(name="dye_color", value=[1, 0.5, 0.5, 1]))
        # A camera change keeps the scene and shows the new view.
        shot = s.json("GET", "/api/shot")
        shot["camera"]["orbit"] = 30
        self.assertEqual(s.json("PUT", "/api/shot", shot)["camera"]["orbit"], 30)
        s.wait_samples(1)

    def test_image_channels_and_formats(self):
        s = self.server
        s.wait_samples(1)
        channels = s.json("GET", "/api/status")["channels"]
        self.assertEqual(channels[:3], ["beauty", "alpha", "backdrop"])
        for query, magic in [("format=png", b"\x89PNG"), ("format=jpg&channel=alpha", b"\xff\xd8"),
                             ("format=exr&channel=" + channels[-1], b"\x76\x2f\x31\x01")]:
            status, headers, body = s.request("GET", "/api/image?" + query)
            self.assertEqual((status, body[:len(magic)], int(headers["X-Version"]) >= 1), (200, magic, True), query)

    def test_lobes_have_every_lobe_and_agreeing_albedos(self):
        lobes = self.server.json("GET", "/api/lobes?lock=0")
        self.assertEqual(lobes["lobes"], ["sum", "R", "TT", "TRT", "diffuse", "other"])
        az = lobes["azimuthal"]["values"]
        self.assertEqual((len(az["sum"]), min(az["sum"]) >= 0, max(az["sum"]) > 0), (72, True, True))
        # Each lobe is about a part of the whole (alone it keeps a little the others took) and shows somewhere.
        for i in range(72):
            self.assertLessEqual(sum(az[name][i] for name in ["R", "TT", "TRT"]), az["sum"][i] * 1.2 + 1e-4)
        self.assertTrue(all(max(az[name]) > 0 for name in ["R", "TT", "TRT"]))
        # Transmission goes away from the viewer, the primary reflection comes back towards it.
        self.assertGreater(sum(az["TT"][18:55]), 3 * sum(az["TT"][:18] + az["TT"][55:]))
        self.assertEqual(len(lobes["longitudinal"]["front"]["R"]), 91)
        for e, m, se, sm in zip(*(lobes["albedo"][k] for k in ("eval", "sampled", "eval_stderr", "sampled_stderr"))):
            self.assertLess(abs(e - m), 5 * (se + sm) + 0.02)

    def test_refusals_get_one_line_in_the_command_lines_words(self):
        s = self.server
        os.symlink("/tmp", os.path.join(s.root, "out"))
        shot = s.json("GET", "/api/shot")
        bad = [("POST", "/api/param", raw, words) for raw, words in [
            (b"{nope", "not JSON"), (b"[1, 2]", "expected a JSON object"), (param(extra=1), "unknown key 'extra'"),
            (param(lock="0"), "expected an integer"), (param(name=5), "expected a string"),
            (b'{"lock": 0, "name": "melanin"}', "'value' is missing"), (param(lock=7), "not a lock"),
            (param(name="melanine"), "melanine"), (param(value=3), "outside the allowed range"),
            (b'{"lock": 0, "name": "melanin", "value": 1e400}', ""), (param(lock=99999999999999999999, value=0), ""),
            (param(value={"a": 1}), "expected a number"), (b"x" * (2 << 20), "larger than")]] + [
            ("PUT", "/api/shot", b'{"format": 1}', "shot: key 'subject'"), ("PUT", "/api/shot", b'{}', "shot:"),
            ("POST", "/api/render", b'{"output": "x.gif", "spp": 4}', "x.gif"),
            ("POST", "/api/render", b'{"output": "x.png", "spp": 0}', "spp"),
            ("POST", "/api/save", b'{"path": "x.txt"}', ".json"), ("GET", "/api/image?format=gif", None, "gif"),
            ("POST", "/api/open", b'{"path": "missing.json"}', "missing.json"), ("GET", "/api/lobes?lock=3", None, ""),
            ("GET", "/api/image?channel=specularish", None, "specularish")]
        # Paths leaving the served folder, also through the link "out", are forbidden.
        forbidden = [
            ("POST", "/api/render", {"output": "../x.png"}), ("POST", "/api/render", {"output": "/tmp/x.png"}),
            ("POST", "/api/render", {"output": "out/x.png"}), ("POST", "/api/save", {"path": "a/../../a.json"}),
            ("POST", "/api/open", {"path": "/etc/passwd"}),
            ("PUT", "/api/shot", dict(shot, subject="groom", groom=dict(shot["groom"], file="../../x.hair"))),
            ("PUT", "/api/shot", dict(shot, lighting=dict(shot["lighting"], environment="/tmp/sky.exr")))]
        cases = [(*c, 400) for c in bad] + [(*c, "outside the served folder", 403) for c in forbidden] + [
            ("GET", "/nothing", None, "", 404)]
        for method, path, body, words, want in cases:
            status, _, reply = s.request(method, path, body)
            self.assertEqual((status, words in reply["error"], "\n" in reply["error"]), (want, True, False),
                             (path, str(body)[:80], reply))

    def test_saved_look_renders_and_final_render_writes_into_the_root(self):
        s = self.server
        self.assertEqual(s.json("POST", "/api/save", {"path": "mine.json"})["path"], "mine.json")
        self.assertIn("mine.json", s.json("GET", "/api/files")["looks"])
        self.assertEqual(s.json("POST", "/api/open", {"path": "mine.json"})["subject"], "swatch")
        s.json("POST", "/api/render", {"output": "final.png", "spp": 2}, expect=202)
        deadline = time.time() + 60
        while s.json("GET", "/api/status")["render"]["state"] == "rendering" and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(s.json("GET", "/api/status")["render"]["state"], "done")
        self.assertGreater(os.path.getsize(os.path.join(s.root, "final.png")), 100)
        out = subprocess.run([HAIRLAB, "render", "--look", os.path.join(s.root, "mine.json"), "--spp", "1", "-q",
                              "-o", os.path.join(s.root, "cli.png")], capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)


class Lifetime(unittest.TestCase):
    def test_signals_stop_the_server_cleanly(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with Server() as s:
                s.json("POST", "/api/render", {"output": "big.exr", "spp": 4096}, expect=202)
                self.assertEqual((s.stop(sig), "stopped" in s.proc.stdout.read()), (0, True), sig)
                self.assertFalse(os.path.exists(os.path.join(s.root, "big.exr")))  # cancelled, not half-written

    def test_command_line_refusals(self):
        for args, words in [(["--root", "/nonexistent"], "--root"), (["--port", "70000"], "--port"),
                            (["--type", "Nope"], "Nope")]:
            out = subprocess.run([HAIRLAB, "serve", *args], capture_output=True, text=True, timeout=30)
            self.assertEqual((out.returncode, words in out.stderr), (2, True), out.stderr)
        with Server("--host", "0.0.0.0", "--scene", "swatch", "--res", "32x18", "--strands", "50") as s:
            self.assertEqual((s.stop(), "warning" in s.proc.stderr.read()), (0, True))


if __name__ == "__main__":
    unittest.main()
