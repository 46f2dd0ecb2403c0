"""The API of hairlab serve: the contract, the refusals in the command line's words, and the root."""
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from serve_support import HAIRLAB, Server  # noqa: E402


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__()

    def test_page_is_served_from_the_binary(self):
        for path, kind in [("/", "text/html"), ("/app.js", "text/javascript"), ("/style.css", "text/css")]:
            status, headers, body = self.server.request("GET", path)
            self.assertEqual(status, 200)
            self.assertTrue(headers["Content-Type"].startswith(kind))
            self.assertNotIn(b"https://", body)  # nothing from the internet
        status, _, body = self.server.request("GET", "/nothing")
        self.assertEqual((status, "error" in body), (404, True))

    def test_types_carry_parsed_hints(self):
        types = self.server.json("GET", "/api/types")
        plugins = {t["name"]: t for t in types["plugins"]}
        self.assertEqual(set(plugins), {"BRDFHair", "BRDFHair2", "BRDFHair3", "BRDFHair4"})
        self.assertEqual(plugins["BRDFHair4"]["type_hints"], {"gpuSupport": "partial"})
        params = {p["name"]: p for t in types["plugins"] for p in t["parameters"] if t["name"] == "BRDFHair4"}
        melanin = params["melanin"]["hint"]
        self.assertEqual((melanin["minValue"], melanin["maxValue"]), (0, 1))
        self.assertEqual((melanin["startTab"], melanin["startRollout"]), ("Quor Hair Next", "General Parameters"))
        self.assertEqual(params["highlight_shift"]["hint"]["softMaxValue"], 10)
        hints = [p["hint"] for t in types["plugins"] for p in t["parameters"]]
        enables = [h["enable"] for h in hints if "enable" in h]
        self.assertTrue(enables and all(set(e) == {"parameter", "value"} for e in enables))
        # The irregular "maxValue(100000)" gives no limit, as on the command line.
        unparsed = [u for h in hints for u in h.get("unparsed", [])]
        self.assertIn("maxValue(100000)", unparsed)
        self.assertEqual(types["preset_type"], "BRDFHair4")
        self.assertTrue(types["presets"] and plugins["BRDFHair4"]["curated"])

    def test_shot_round_trip_and_parameter_change_make_new_versions(self):
        s = self.server
        shot = s.json("GET", "/api/shot")
        self.assertEqual((shot["subject"], shot["render"]["width"]), ("swatch", 96))
        before = s.json("GET", "/api/status")["version"]
        self.assertEqual(s.json("PUT", "/api/shot", shot)["looks"], shot["looks"])
        version = s.json("POST", "/api/param", {"lock": 0, "name": "melanin", "value": 0.7})["version"]
        self.assertGreater(version, before)
        headers = s.wait_samples(8, version)
        self.assertEqual(int(headers["X-Samples"]), 8)
        self.assertEqual(s.json("GET", "/api/status")["picture"], version)
        self.assertEqual(s.json("GET", "/api/shot")["looks"][0]["parameters"]["melanin"], 0.7)
        # null unconnects a texture slot; the shot says so.
        s.json("POST", "/api/param", {"lock": 0, "name": "dye_color", "value": None})
        self.assertIsNone(s.json("GET", "/api/shot")["looks"][0]["parameters"]["dye_color"])
        s.json("POST", "/api/param", {"lock": 0, "name": "dye_color", "value": [1, 0.5, 0.5, 1]})
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
            self.assertEqual((status, body[:len(magic)]), (200, magic), query)
            self.assertTrue(int(headers["X-Version"]) >= 1)
        for query in ["format=gif", "channel=specularish"]:
            status, _, body = s.request("GET", "/api/image?" + query)
            self.assertEqual(status, 400, query)
            self.assertIn(query.split("=")[1], body["error"])

    def test_lobes_have_every_lobe_and_agreeing_albedos(self):
        lobes = self.server.json("GET", "/api/lobes?lock=0")
        self.assertEqual(lobes["lobes"], ["sum", "R", "TT", "TRT", "diffuse", "other"])
        az = lobes["azimuthal"]["values"]
        self.assertEqual(len(az["sum"]), 72)
        self.assertTrue(all(v >= 0 for v in az["sum"]) and max(az["sum"]) > 0)
        # Each lobe is about a part of the whole (alone, it keeps a little energy the others took),
        # and each shows somewhere.
        for i in range(72):
            self.assertLessEqual(sum(az[name][i] for name in ["R", "TT", "TRT"]), az["sum"][i] * 1.2 + 1e-4)
        self.assertTrue(all(max(az[name]) > 0 for name in ["R", "TT", "TRT"]))
        # Transmission goes away from the viewer, the primary reflection comes back towards it.
        back = range(18, 55)
        self.assertGreater(sum(az["TT"][i] for i in back), 3 * sum(az["TT"][i] for i in range(72) if i not in back))
        self.assertEqual(len(lobes["longitudinal"]["front"]["R"]), 91)
        albedo = lobes["albedo"]
        for e, m, se, sm in zip(albedo["eval"], albedo["sampled"], albedo["eval_stderr"], albedo["sampled_stderr"]):
            self.assertLess(abs(e - m), 5 * (se + sm) + 0.02)
        self.assertEqual(self.server.request("GET", "/api/lobes?lock=3")[0], 400)

    def test_bad_requests_get_one_line_in_the_command_lines_words(self):
        cases = [
            ("POST", "/api/param", b"{nope", "not JSON"),
            ("POST", "/api/param", b"[1, 2]", "expected a JSON object"),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanin", "value": 0.5, "extra": 1}', "unknown key 'extra'"),
            ("POST", "/api/param", b'{"lock": "0", "name": "melanin", "value": 0.5}', "expected an integer"),
            ("POST", "/api/param", b'{"lock": 0, "name": 5, "value": 0.5}', "expected a string"),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanin"}', "'value' is missing"),
            ("POST", "/api/param", b'{"lock": 7, "name": "melanin", "value": 0.5}', "not a lock"),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanine", "value": 0.5}', "melanine"),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanin", "value": 3}', "outside the allowed range"),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanin", "value": 1e400}', ""),
            ("POST", "/api/param", b'{"lock": 99999999999999999999, "name": "melanin", "value": 0}', ""),
            ("POST", "/api/param", b'{"lock": 0, "name": "melanin", "value": {"a": 1}}', "expected a number"),
            ("PUT", "/api/shot", b'{"format": 1}', "shot: key 'subject'"),
            ("PUT", "/api/shot", b'{}', "shot:"),
            ("POST", "/api/render", b'{"output": "x.gif", "spp": 4}', "x.gif"),
            ("POST", "/api/render", b'{"output": "x.png", "spp": 0}', "spp"),
            ("POST", "/api/save", b'{"path": "x.txt"}', ".json"),
            ("POST", "/api/open", b'{"path": "missing.json"}', "missing.json"),
            ("POST", "/api/param", b"x" * (2 << 20), "larger than"),
        ]
        for method, path, raw, words in cases:
            status, _, body = self.server.request(method, path, raw=raw)
            self.assertEqual(status, 400, (path, raw[:80], body))
            self.assertIn(words, body["error"], raw[:80])
            self.assertNotIn("\n", body["error"])

    def test_paths_leaving_the_root_are_forbidden(self):
        s = self.server
        os.symlink("/tmp", os.path.join(s.root, "out"))
        shot = s.json("GET", "/api/shot")
        for method, path, body in [
            ("POST", "/api/render", {"output": "../x.png"}),
            ("POST", "/api/render", {"output": "/tmp/x.png"}),
            ("POST", "/api/render", {"output": "out/x.png"}),  # through a link
            ("POST", "/api/save", {"path": "a/../../a.json"}),
            ("POST", "/api/open", {"path": "/etc/passwd"}),
            ("PUT", "/api/shot", dict(shot, subject="groom", groom=dict(shot["groom"], file="../../x.hair"))),
            ("PUT", "/api/shot", dict(shot, lighting=dict(shot["lighting"], environment="/tmp/sky.exr"))),
        ]:
            status, _, reply = s.request(method, path, body)
            self.assertEqual(status, 403, (path, body if path != "/api/shot" else "shot", reply))
            self.assertIn("outside the served folder", reply["error"])

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
                self.assertEqual(s.stop(sig), 0)
                self.assertIn("stopped", s.proc.stdout.read())
                self.assertFalse(os.path.exists(os.path.join(s.root, "big.exr")))  # cancelled, not half-written

    def test_command_line_refusals(self):
        for args, words in [(["--root", "/nonexistent"], "--root"), (["--port", "70000"], "--port"),
                            (["--type", "Nope"], "Nope")]:
            out = subprocess.run([HAIRLAB, "serve", *args], capture_output=True, text=True, timeout=30)
            self.assertEqual(out.returncode, 2)
            self.assertIn(words, out.stderr)
        with Server("--host", "0.0.0.0", "--scene", "swatch", "--res", "32x18", "--strands", "50") as s:
            self.assertEqual(s.stop(), 0)
            self.assertIn("warning", s.proc.stderr.read())


if __name__ == "__main__":
    unittest.main()
