"""A device and a vantrel-view of a test's own: started in a fresh folder, ended by their pids.

Every wait has a deadline; `reaper(seconds)` ends the whole test (and what it started) when it
runs past its time, so a hung browser or device never outlives the test.
"""
import http.client
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

STARTED = []  # Popen objects of this test, ended by pid at exit


def end_tree(pid):
    """Ends pid and the processes it started (found through /proc by parent pid), by pid."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(entry))
        except (OSError, IndexError, ValueError):
            pass
    order, todo = [], [pid]
    while todo:
        p = todo.pop()
        order.append(p)
        todo.extend(children.get(p, []))
    for p in order:
        try:
            os.kill(p, signal.SIGKILL)
        except ProcessLookupError:
            pass


def end_all():
    for proc in reversed(STARTED):
        if proc.poll() is None:
            end_tree(proc.pid)
            proc.wait()
    STARTED.clear()


def reaper(seconds):
    def fire():
        print(f"FAIL: the test ran longer than {seconds} s; ending what it started", file=sys.stderr, flush=True)
        end_all()
        os._exit(3)
    timer = threading.Timer(seconds, fire)
    timer.daemon = True
    timer.start()
    return timer


def wait_for(check, timeout=10.0, what="the condition"):
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        last = check()
        if last:
            return last
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {last!r})")


def open_main_page(browser, url):
    """Loads the view and opens the Settings app's main page, as a person would."""
    browser.get(url)
    wait_for(lambda: browser.js("return window.vantrel && window.vantrel.running;"), what="the phone")
    # The Settings list comes from its own request, after the phone.
    wait_for(lambda: browser.js("return !!document.querySelector('#settings-rows button[data-page=\"main\"]');"),
             what="the Settings app's list")
    browser.click('#settings-rows button[data-page="main"]')
    wait_for(lambda: browser.js("return document.getElementById('settings-rows').dataset.page;") == "main")


def short_tmp():
    """/tmp as the other suites use it, not $TMPDIR, whose path may be too long for the sockets
    in it (the device's bus, Chromium's); $TMPDIR (None) only when /tmp cannot be written."""
    return "/tmp" if os.access("/tmp", os.W_OK | os.X_OK) else None


class Device:
    """A fresh device folder with the device running, and its command-line programs."""

    def __init__(self, bin_dir):
        self.bin = bin_dir
        self.tmp = tempfile.TemporaryDirectory(prefix="vantrel-view-test-", dir=short_tmp())
        self.folder = os.path.join(self.tmp.name, "device")
        self.run("vantrel-device", "start", "--fresh")

    def run(self, program, *args, timeout=30):
        out = subprocess.run([os.path.join(self.bin, program), "--device", self.folder, *args],
                             capture_output=True, text=True, timeout=timeout)
        if out.returncode != 0:
            raise AssertionError(f"{program} {' '.join(args)} failed: {out.stderr.strip()}")
        return out.stdout

    def settings(self, *args):
        return self.run("vantrel-settings", *args)

    def status(self):
        return json.loads(self.run("vantrel-device", "status", "--json"))

    def stop(self):
        subprocess.run([os.path.join(self.bin, "vantrel-device"), "--device", self.folder, "stop"],
                       capture_output=True, timeout=30)
        self.tmp.cleanup()


class View:
    """vantrel-view serving a device; its address with the token, and plain HTTP to it."""

    def __init__(self, bin_dir, device_folder):
        self.proc = subprocess.Popen([os.path.join(bin_dir, "vantrel-view"), "--device", device_folder, "--port", "0"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        STARTED.append(self.proc)
        self.url = self.proc.stdout.readline().strip()
        if not self.url.startswith("http://127.0.0.1:"):
            raise AssertionError(f"vantrel-view printed no address: {self.url!r}")
        self.port = int(self.url.split(":")[2].split("/")[0])
        self.token = self.url.split("token=")[1]

    def http(self, method, path, body=None, headers=None, token=True, timeout=20):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        h = {"Host": f"127.0.0.1:{self.port}"}
        if token:
            h["X-Vantrel-Token"] = self.token
        if body is not None:
            h["Content-Type"] = "application/json"
            body = body if isinstance(body, (bytes, str)) else json.dumps(body)
        h.update(headers or {})
        conn.request(method, path, body=body, headers=h)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, data

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                end_tree(self.proc.pid)
                self.proc.wait()
