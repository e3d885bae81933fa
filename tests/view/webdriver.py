"""A small client of chromedriver's W3C WebDriver HTTP API, driving headless Chromium.

The browser gets a fresh profile folder; quit() closes the session and ends chromedriver (and
anything it left) by pid.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import time
import urllib.request

from harness import STARTED, end_tree, short_tmp

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


class WebDriverError(AssertionError):
    pass


def browser_programs():
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        raise WebDriverError("chromium and chromium-driver are not installed: run ./vantrel setup "
                             "(the browser tests need them and do not skip)")
    return chromium, driver


class Browser:
    def __init__(self, profile_dir):
        chromium, driver = browser_programs()
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        env = dict(os.environ, TMPDIR=short_tmp()) if short_tmp() else None  # Chromium's sockets go there
        self.proc = subprocess.Popen([driver, f"--port={port}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     env=env)
        STARTED.append(self.proc)
        self.base = f"http://127.0.0.1:{port}"
        end = time.monotonic() + 20
        while True:
            try:
                if self._call("GET", "/status")["ready"]:
                    break
            except OSError:
                pass
            if time.monotonic() > end:
                raise WebDriverError("chromedriver did not start")
            time.sleep(0.1)
        args = ["--headless=new", f"--user-data-dir={os.path.join(profile_dir, 'profile')}", "--no-first-run",
                "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1300,1000", "--no-default-browser-check"]
        if os.geteuid() == 0:
            args.append("--no-sandbox")  # Chromium refuses root otherwise
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome",
                                                 "goog:chromeOptions": {"binary": chromium, "args": args}}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.loads(r.read())["value"]
        except urllib.error.HTTPError as e:
            raise WebDriverError(f"{method} {path}: {e.read().decode(errors='replace')[:500]}") from None

    def cmd(self, method, path, body=None):
        return self._call(method, f"/session/{self.session}{path}", body)

    def get(self, url):
        self.cmd("POST", "/url", {"url": url})

    def find(self, css):
        return self.cmd("POST", "/element", {"using": "css selector", "value": css})[ELEMENT]

    def click(self, css):
        # The Settings rows are drawn anew after each answer: a reference may go stale once.
        for attempt in range(3):
            try:
                return self.cmd("POST", f"/element/{self.find(css)}/click", {})
            except WebDriverError as e:
                if "stale element" not in str(e) or attempt == 2:
                    raise

    def type(self, css, text):
        element = self.find(css)
        self.cmd("POST", f"/element/{element}/clear", {})
        self.cmd("POST", f"/element/{element}/value", {"text": text})

    def js(self, script, *args):
        return self.cmd("POST", "/execute/sync", {"script": script, "args": list(args)})

    def js_async(self, script, *args):
        return self.cmd("POST", "/execute/async", {"script": script, "args": list(args)})

    def keys(self, *names):
        """Presses keys as a keyboard does, on whatever has the focus: "Tab", "Space", "Enter", "Escape"."""
        codes = {"Tab": "\ue004", "Space": " ", "Enter": "\ue007", "Escape": "\ue00c"}
        actions = []
        for name in names:
            actions += [{"type": "keyDown", "value": codes[name]}, {"type": "keyUp", "value": codes[name]}]
        self.cmd("POST", "/actions", {"actions": [{"type": "key", "id": "keyboard", "actions": actions}]})

    def viewport(self, width, height):
        """The page's viewport in CSS pixels, whatever the window's frame takes."""
        self.cmd("POST", "/goog/cdp/execute", {"cmd": "Emulation.setDeviceMetricsOverride", "params": {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False}})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.cmd("GET", "/screenshot")))

    def quit(self):
        try:
            self.cmd("DELETE", "")
        except Exception:
            pass
        end_tree(self.proc.pid)
        self.proc.wait()
