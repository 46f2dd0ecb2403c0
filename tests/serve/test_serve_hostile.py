"""hairlab serve under hostile requests and several clients changing parameters at once: each gets a status,
never a 5xx, and the server ends alive and refining. HAIRLAB_HOSTILE_SECONDS sets how long the clients run."""
import os
import random
import socket
import sys
import threading
import time
import unittest
from urllib.parse import urlparse

sys.path.insert(0, os.path.dirname(__file__))
from serve_support import Server, param  # noqa: E402

SECONDS = float(os.environ.get("HAIRLAB_HOSTILE_SECONDS", "4"))
CLIENTS = 8

BODIES = [b"", b"{", b"null", b"[]", b"\"text\"", b"\xff\xfe\x00", b"{\"lock\": 0}" * 1000,
          b'{"lock": 0, "name": "melanin", "value": 1e308}', b'{"lock": 0, "name": "melanin", "value": -1e-320}',
          b'{"lock": 1e30, "name": "melanin", "value": 0.5}', param(lock=-1), param(value=[1, 2, 3, 4, 5, 6]),
          b'{"lock": 0, "name": "dye_color", "value": [1e39, "a", null]}', param(__proto__={}),
          param(name="subdivs", value=99999999999999999999999), b'{"output": "\\u0000.png", "spp": 4}',
          b'{"output": "x.exr", "spp": 1e9}', b'{"path": "../../../../etc/passwd"}',
          b'{"format": 99, "subject": "swatch", "looks": []}',
          b'{"format": 1, "subject": "swatch", "looks": [{"type": "BRDFHair4", "parameters": {"melanin": "x"}}]}']
PATHS = [("POST", "/api/param"), ("PUT", "/api/shot")] + [("POST", "/api/" + p) for p in ("render", "save", "open")]
GETS = ["/api/image?channel=alpha", "/api/image?format=x", "/api/lobes?lock=99999999999", "/api/shot", "/api/status"]
BROKEN_HTTP = [b"GARBAGE\r\n\r\n", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n",
               b"POST /api/param HTTP/1.1\r\nContent-Length: 99\r\n\r\n{"]


def raw_http(url, data):
    """Sends bytes that need not be HTTP and reads whatever comes back."""
    u = urlparse(url)
    with socket.create_connection((u.hostname, u.port), timeout=10) as s:
        s.sendall(data)
        try:
            return s.recv(4096)
        except socket.timeout:
            return b""


class Hostile(unittest.TestCase):
    def test_server_survives_and_keeps_serving(self):
        with Server() as server:
            failures, counts, lock = [], {"ok": 0, "refused": 0}, threading.Lock()
            stop = time.time() + SECONDS

            def client(seed):
                rnd = random.Random(seed)
                while time.time() < stop:
                    kind = rnd.random()
                    if kind < 0.4:
                        req = ("POST", "/api/param", param(value=rnd.choice([rnd.random(), rnd.uniform(-5, 5), None])))
                    elif kind < 0.8:
                        req = (*rnd.choice(PATHS), rnd.choice(BODIES))
                    elif kind < 0.9:
                        req = ("GET", rnd.choice(GETS), None)
                    else:
                        raw_http(server.url, rnd.choice(BROKEN_HTTP))
                        with lock:
                            counts["refused"] += 1
                        continue
                    status, _, body = server.request(*req, timeout=30)
                    with lock:
                        if status >= 500:
                            failures.append((req[:2], req[2][:60] if req[2] else None, status, body))
                        counts["ok" if status < 400 else "refused"] += 1

            threads = [threading.Thread(target=client, args=(i,)) for i in range(CLIENTS)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(SECONDS + 120)
            self.assertFalse(any(t.is_alive() for t in threads), "a client hangs")
            self.assertEqual(failures, [])
            self.assertTrue(counts["ok"] > 10 and counts["refused"] > 10, counts)
            self.assertIsNone(server.proc.poll(), "the server died")
            server.json("POST", "/api/param", param(value=0.4))
            server.wait_samples(8)
            self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    unittest.main()
