"""Starts `hairlab serve` on a free port in a folder of its own and talks to its API."""
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

HAIRLAB = os.environ.get("HAIRLAB", "hairlab")
SHOT = ["--scene", "swatch", "--res", "96x54", "--strands", "300", "--spp", "8"]


def param(**fields):
    """A /api/param body as bytes: lock 0's melanin at 0.5 unless the fields say otherwise."""
    return json.dumps(dict({"lock": 0, "name": "melanin", "value": 0.5}, **fields)).encode()


class Server:
    def __init__(self, *args, root=None):
        self.tmp = None if root else tempfile.TemporaryDirectory(prefix="serve_test_")
        self.root = root or self.tmp.name
        self.proc = subprocess.Popen([HAIRLAB, "serve", "--port", "0", "--root", self.root, *(args or SHOT)],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        found = re.search(r"(http://\S+?)/ ", line)
        if not found:
            self.proc.kill()
            raise RuntimeError("serve did not start: " + line + self.proc.stderr.read())
        self.url = found.group(1)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        if self.tmp:
            self.tmp.cleanup()

    def stop(self, sig=signal.SIGTERM, timeout=20):
        """Stops the server by a signal; its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(timeout)

    def request(self, method, path, body=None, timeout=60):
        """(status, headers, body): JSON bodies decoded, others as bytes. A bytes body is sent as it is."""
        data = json.dumps(body).encode() if isinstance(body, (dict, list)) else body
        req = urllib.request.Request(self.url + path, data=data, method=method)
        try:
            with urllib.request.urlopen(req, timeout=timeout) as res:
                status, headers, payload = res.status, res.headers, res.read()
        except urllib.error.HTTPError as e:
            status, headers, payload = e.code, e.headers, e.read()
        if (headers.get("Content-Type") or "").startswith("application/json"):
            payload = json.loads(payload)
        return status, headers, payload

    def json(self, method, path, body=None, expect=200):
        status, _, payload = self.request(method, path, body)
        if status != expect:
            raise AssertionError(f"{method} {path}: {status} {payload}")
        return payload

    def wait_samples(self, samples, version=None, seconds=60):
        """Polls the picture until it shows the version (default: the newest) with the samples."""
        deadline = time.time() + seconds
        while time.time() < deadline:
            status, headers, _ = self.request("GET", "/api/image?format=png")
            want = version or self.json("GET", "/api/status")["version"]
            if status == 200 and int(headers["X-Version"]) == want and int(headers["X-Samples"]) >= samples:
                return headers
            time.sleep(0.05)
        raise AssertionError(f"no picture of {samples} samples in {seconds} s")
