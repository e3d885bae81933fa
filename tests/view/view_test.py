"""vantrel-view against a device of its own: `view_test.py SUITE --bin BUILD/bin`.

http:       the server's safety rules, as plain HTTP (token, Host, methods, sizes, refusals).
browser:    the page in headless Chromium, driven as a person would, one table row per task.
screenshot: PNGs of the status bar with and without hide-all differ there and are not blank.
connections: idle and trickling connections neither starve the token holder nor outlive a SIGTERM.
"""
import argparse
import json
import os
import resource
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import STARTED, Device, View, end_all, open_main_page, reaper, short_tmp, wait_for  # noqa: E402


def check(condition, message):
    if not condition:
        raise AssertionError(message)


# ---- plain HTTP

def http_suite(device, view):
    big = json.dumps({"changes": {"carrier": "x" * 20000}})
    cases = [
        # (what, method, path, body, headers, token, expected status)
        ("no token", "GET", "/api/status", None, {}, False, 403),
        ("wrong token", "GET", "/api/status", None, {"X-Vantrel-Token": "0" * 32}, False, 403),
        ("token in the query of an API call", "GET", f"/api/status?token={view.token}", None, {}, False, 403),
        ("a POST with the cookie alone", "POST", "/api/device/tap", {}, {"Cookie": f"vantrel_token={view.token}"}, False, 403),
        ("another Host", "GET", "/api/status", None, {"Host": f"vantrel.example:{view.port}"}, True, 421),
        ("another port in Host", "GET", "/api/status", None, {"Host": f"127.0.0.1:{view.port + 1}"}, True, 421),
        ("GET on an action", "GET", "/api/device/tap", None, {}, True, 405),
        ("POST on a page", "POST", "/api/status", {}, {}, True, 405),
        ("POST on the key table", "POST", "/api/device/keys", {}, {}, True, 405),
        ("oversize body", "POST", "/api/device/hardware", big, {}, True, 413),
        ("unknown path", "GET", "/nowhere", None, {}, True, 404),
        ("not JSON", "POST", "/api/device/tap", "{oops", {}, True, 400),
        ("not a JSON type", "POST", "/api/device/tap", b"{}", {"Content-Type": "text/plain"}, True, 415),
        ("unknown hardware key", "POST", "/api/device/hardware", {"changes": {"bogus": 1}}, {}, True, 422),
        ("no such alert", "POST", "/api/device/alert", {"id": 999999, "button": "OK"}, {}, True, 422),
        ("token query on the page", "GET", f"/?token={view.token}", None, {}, False, 303),
        ("the page with the cookie", "GET", "/", None, {"Cookie": f"vantrel_token={view.token}"}, False, 200),
    ]
    for what, method, path, body, headers, token, expected in cases:
        status, data = view.http(method, path, body, headers, token)
        check(status == expected, f"{what}: {method} {path} gave {status}, expected {expected}: {data[:200]!r}")
        check(b"Access-Control" not in data, f"{what}: CORS in the body")
    # Settings: what no control can produce is refused with the app's words, and nothing changes.
    status, data = view.http("POST", "/api/settings/open", {"page": "main"})
    check(status == 200, f"open main gave {status}")
    before = device.settings("show", "--json")
    for body in ({"key": "hideall", "value": "yes"}, {"key": "nosuchkey", "value": True},
                 {"key": "clockformat", "value": 9}, {"key": "hideall"}):
        status, data = view.http("POST", "/api/settings/set", body)
        check(400 <= status < 500 and b"error" in data, f"set {body} gave {status}: {data[:200]!r}")
    status, data = view.http("POST", "/api/settings/press", {"action": "rm -rf:"})
    check(status == 422, f"an unknown button gave {status}")
    check(device.settings("show", "--json") == before, "a refused change changed the settings")
    # A port in use is refused, never shared with a second listener; a port out of range says why.
    for port, code, said in ((str(view.port), 1, "already in use"), ("99999", 2, "must be 1-65535")):
        second = subprocess.Popen([os.path.join(device.bin, "vantrel-view"), "--device", device.folder, "--port", port],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        STARTED.append(second)
        try:
            _, err = second.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            second.kill()
            second.communicate()
            raise AssertionError(f"--port {port}: a second view started serving")
        check(second.returncode == code and said in err, f"--port {port}: exit {second.returncode}: {err!r}")
    print("http: all cases passed")


# ---- connections that hold the server

MAX_CONNECTIONS = 64  # server.h


def open_for(port, seconds, interval, stop=None):
    """A request whose header lines trickle in every `interval`; how long the server kept it open."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(b"GET /api/status HTTP/1.1\r\n")
            readable = select.poll()
            readable.register(s, select.POLLIN)
            while time.monotonic() - start < seconds and not (stop and stop.is_set()):
                s.sendall(b"X-Slow: 1\r\n")
                if readable.poll(interval * 1000) and not s.recv(4096):
                    break  # the server closed it (after any answer)
    except OSError:
        pass  # closed by the server, or the view has ended
    return time.monotonic() - start


def connections_suite(device, view):
    check(open_for(view.port, 25, 1.0) < 20, "a request trickling in a header line a second was kept open")
    # Sixteen clients trickling a header line every 4 s (starting again when closed), then idle ones.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
    stop = threading.Event()
    slow = [threading.Thread(target=lambda: [open_for(view.port, 60, 4.0, stop) for _ in range(20) if not stop.is_set()],
                             daemon=True) for _ in range(16)]
    for t in slow:
        t.start()
    idle, refused = [], 0
    try:
        for _ in range(1500):
            try:
                idle.append(socket.create_connection(("127.0.0.1", view.port), timeout=5))
            except OSError:
                refused += 1
        # The server keeps few open: beyond its limit the longest idle ones are closed (readable, at their end).
        closing = select.poll()
        for s in idle:
            closing.register(s, select.POLLIN)
        wait_for(lambda: len(closing.poll(0)) >= len(idle) - MAX_CONNECTIONS, what="the oldest idle connections closed")
        start = time.monotonic()
        try:
            status, _ = view.http("GET", "/api/status", timeout=10)
        except OSError as e:
            raise AssertionError(f"the token holder had no answer: {e}")
        check(status == 200, f"the token holder got {status}")
        print(f"connections: answered in {time.monotonic() - start:.2f} s beside {len(idle)} idle "
              f"({refused} not opened) and 16 trickling", flush=True)
        view.proc.send_signal(signal.SIGTERM)
        try:
            code = view.proc.wait(timeout=4)
        except subprocess.TimeoutExpired:
            raise AssertionError("vantrel-view was still running 4 s after SIGTERM")
        check(code == 0, f"vantrel-view ended with {code} after SIGTERM")
    finally:
        stop.set()
        for s in idle:
            s.close()
    print("connections: all cases passed")


# ---- the browser

def text_of(browser, item):
    return browser.js("const e = document.querySelector('#phone [data-item=\"' + arguments[0] + '\"]');"
                      "return e ? e.textContent : null;", str(item))


def shown_items(browser):
    return browser.js("return document.querySelectorAll('#phone .statusbar [data-item]').length;")


def hide_all(browser, device):
    browser.click('input[data-key="hideall"]')
    wait_for(lambda: shown_items(browser) == 0, what="an empty status bar")
    browser.click('input[data-key="hideall"]')
    wait_for(lambda: shown_items(browser) > 0, what="the items back")


def settings_value(device, key):
    return next(r["value"] for r in json.loads(device.settings("show", "--json"))["rows"] if r["key"] == key)


def chooser_open(browser):
    return browser.js("return document.getElementById('settings-rows').dataset.chooser;")


def clock_mode_3(browser, device):
    browser.click('button[data-key="clockformat"]')
    wait_for(lambda: chooser_open(browser) == "clockformat", what="the Clock Mode page")
    browser.click('button[data-choice="3"]')
    network = device.status()["wifi"]["network"]
    wait_for(lambda: text_of(browser, 0) == network, what=f"the network name {network!r} as the time")
    wait_for(lambda: browser.js("return document.querySelector('[data-choice=\"3\"]').getAttribute('aria-checked');")
             == "true", what="the checkmark on the chosen title")
    browser.click("#back")
    wait_for(lambda: chooser_open(browser) == "" and browser.js(
        "return document.querySelector('button[data-key=\"clockformat\"] .value').textContent;") == "Wi-Fi Network Name",
        what="the main page with the chosen title on its row")


def carrier_dialog(browser, device):
    browser.click('input[data-key="customcarrier"]')
    wait_for(lambda: browser.js("return document.querySelector('input[data-key=\"customcarrier\"]').checked;"))
    browser.click('button[data-action="carrierText:"]')
    wait_for(lambda: browser.js("return !document.getElementById('settings-dialog').hidden;"), what="the dialog")
    # Short enough to be drawn whole beside the time; markup and quotes in it come out as text.
    browser.type("#settings-dialog input", '<b>"Q&A\\')
    browser.click('#settings-dialog button[data-button="Save"]')
    wait_for(lambda: text_of(browser, 4) == '<b>"Q&A\\', what="the typed carrier in the bar")
    wait_for(lambda: browser.js("return document.querySelector('button[data-action=\"carrierText:\"] .value')"
                                "?.textContent;") == '<b>"Q&A\\', what="the carrier on its row")


def tap_moves_mode(browser, device):
    before = device.settings("show", "--json")
    mode = next(r["value"] for r in json.loads(before)["rows"] if r["key"] == "clockformat")
    browser.click("#phone .statusbar")
    wait_for(lambda: next(r["value"] for r in json.loads(device.settings("show", "--json"))["rows"]
                          if r["key"] == "clockformat") == (mode + 1) % 6, what="the next clock mode")
    if mode == 3:  # from the network name to free memory
        wait_for(lambda: (text_of(browser, 0) or "").endswith("MB RAM"), what="free memory as the time")


def answer_alert(browser, device):
    browser.click("#lock")
    wait_for(lambda: browser.js("return window.vantrel.status && window.vantrel.status.locked;"), what="the lock screen")
    browser.click("#lock")  # the first unlock thanks the user with an alert
    wait_for(lambda: browser.js("return document.querySelectorAll('#phone .alert').length;") > 0, what="an alert")
    browser.click('#phone .alert-button[data-button="OK"]')
    wait_for(lambda: browser.js("return document.querySelectorAll('#phone .alert').length;") == 0, what="no alert")
    check(device.status()["alerts"] == [], "SpringBoard still shows the alert")


def keyboard_switch(browser, device):
    # From the row before it, Tab reaches the switch; Space flips it and aria-checked follows.
    browser.js("document.querySelector('button[data-key=\"clockformat\"]').focus();")
    browser.keys("Tab")
    check(browser.js("return document.activeElement.dataset.key;") == "1224", "Tab did not reach the switch")
    for on in (True, False):
        browser.keys("Space")
        wait_for(lambda: settings_value(device, "1224") == on, what=f"24-hour time {on}")
        wait_for(lambda: browser.js("const e = document.activeElement; return window.vantrel.pending + ' ' +"
                                    "e.dataset.key + ' ' + e.getAttribute('aria-checked');") == f"0 1224 {str(on).lower()}",
                 what="the switch still focused after the redraw, aria-checked following")
    browser.keys("Tab", "Tab", "Tab", "Tab", "Tab", "Enter")  # to Custom Time Text: its dialog
    wait_for(lambda: browser.js("return !document.getElementById('settings-dialog').hidden;"), what="the dialog")
    browser.keys("Escape")
    wait_for(lambda: browser.js("return document.getElementById('settings-dialog').hidden;"), what="Escape closing it")
    browser.js("document.querySelector('button[data-key=\"clockformat\"]').focus();")
    browser.keys("Enter")
    wait_for(lambda: chooser_open(browser) == "clockformat", what="Enter opening the chooser")
    browser.keys("Escape")
    wait_for(lambda: chooser_open(browser) == "" and browser.js("return document.activeElement.dataset.key;")
             == "clockformat", what="Escape back on the chooser's row")
    mode = settings_value(device, "clockformat")
    browser.get(browser.js("return location.href;"))  # the status bar is the page's first stop
    wait_for(lambda: browser.js("return window.vantrel.running;"), what="the phone")
    browser.keys("Tab")
    check(browser.js("return document.activeElement.dataset.focus;") == "tap", "the first Tab did not reach the status bar")
    browser.keys("Enter")
    wait_for(lambda: settings_value(device, "clockformat") == (mode + 1) % 6, what="Enter on the status bar tapping it")


def drawer_keys(browser, device, view):
    status, data = view.http("GET", "/api/device/keys")
    names = [k["key"] for k in json.loads(data)["keys"]]
    check(status == 200 and len(names) > 30, f"the key table: {status}, {len(names)} keys")
    browser.js("document.getElementById('hardware').open = true;")
    wait_for(lambda: sorted(browser.js("return [...document.querySelectorAll('#hardware-form [name]')].map(e => e.name);"))
             == sorted(names), what="every key of the table in the drawer")
    browser.type('#hardware-form [name="signalBars"]', "9")
    browser.type('#hardware-form [name="carrier"]', "Drawer")
    browser.click('#hardware-form button[type="submit"]')
    wait_for(lambda: "0-5" in browser.js("return document.querySelector('.field[data-key=\"signalBars\"] .field-error')"
                                         ".textContent;"), what="the refusal beside signalBars")
    check(browser.js("return document.querySelector('.field[data-key=\"carrier\"] .field-error').textContent;") == "",
          "a refusal beside a field that was fine")
    check("Drawer" not in device.run("vantrel-device", "get", "carrier"), "a refused change applied the rest")
    browser.js("document.getElementById('hardware').open = false;")


# Fetched by ./vantrel setup (which ./vantrel test runs first), checked against its release's hash.
AXE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build-tools", "axe-core", "axe.min.js")


def axe_check(browser, state):
    check(os.path.isfile(AXE), f"no {os.path.normpath(AXE)}: ./vantrel setup fetches it")
    if not browser.js("return !!window.axe;"):
        browser.js(open(AXE).read() + "\nwindow.axe = axe;")
    found = browser.js_async("const done = arguments[arguments.length - 1];"
                             "axe.run(document).then(r => done(r.violations.filter(v => v.impact === 'serious' || "
                             "v.impact === 'critical').map(v => v.id + ': ' + v.nodes.map(n => n.target.join(' ')).join(', '))));")
    check(not found, f"axe on {state}: {found}")


def axe_states(browser, device):
    browser.click("#back")
    wait_for(lambda: browser.js("return document.getElementById('settings-rows').dataset.page;") == "")
    axe_check(browser, "the root list")
    browser.click('#settings-rows button[data-page="main"]')
    wait_for(lambda: browser.js("return document.getElementById('settings-rows').dataset.page;") == "main")
    axe_check(browser, "the main page")
    browser.click('button[data-key="clockformat"]')
    wait_for(lambda: chooser_open(browser) == "clockformat")
    axe_check(browser, "a list chooser page")
    browser.click("#back")
    browser.click('button[data-action="carrierText:"]')
    wait_for(lambda: browser.js("return !document.getElementById('settings-dialog').hidden;"), what="the dialog")
    axe_check(browser, "a dialog")
    browser.click('#settings-dialog button[data-button="Cancel"]')
    browser.js("document.getElementById('hardware').open = true;")
    wait_for(lambda: browser.js("return document.querySelectorAll('#hardware-form [name]').length;") > 30)
    axe_check(browser, "the drawer open")
    browser.js("document.getElementById('hardware').open = false;")


def in_view(browser, selectors):
    return browser.js("const w = innerWidth, h = innerHeight;"
                      "return arguments[0].filter(s => { const r = document.querySelector(s).getBoundingClientRect();"
                      "  return !(r.width > 0 && r.top >= 0 && r.left >= 0 && r.bottom <= h && r.right <= w); });",
                      selectors)


def layouts(browser, device):
    try:
        browser.viewport(1280, 800)
        browser.js("scrollTo(0, 0);")
        wait_for(lambda: in_view(browser, ["#phone svg", "#settings", "#lock", "#nc", "#home"]) == [],
                 what="the phone, the Settings app and the buttons in a 1280x800 window")
        browser.viewport(800, 900)
        wait_for(lambda: browser.js(
            "const p = document.getElementById('phone').getBoundingClientRect(),"
            "  s = document.getElementById('settings').getBoundingClientRect();"
            "return p.bottom <= s.top && getComputedStyle(document.getElementById('stacked-note')).display !== 'none';"),
            what="the phone above the Settings app, and the note saying so, at 800 px")
    finally:
        browser.cmd("POST", "/goog/cdp/execute", {"cmd": "Emulation.clearDeviceMetricsOverride", "params": {}})


def reloads(browser, device):
    # Each reload leaves a stream the server ends only at its next write: the page that finds no
    # slot free asks again until one is.
    for _ in range(10):
        browser.get(browser.js("return location.href;"))
    wait_for(lambda: browser.js("return window.vantrel.running && !!document.querySelector('#phone .statusbar');"),
             what="the phone drawn after ten reloads")


def stopped_device(browser, device):
    device.run("vantrel-device", "stop")
    command = f"--device {device.folder} start"
    wait_for(lambda: browser.js("return document.getElementById('down').hidden;") is False, what="the not running note")
    said = browser.js("return document.body.innerText;")
    times = said.count("not running") + said.count("stopped")
    check(times == 1 and command in said, f"said {times} times, {command!r} {'given' if command in said else 'missing'}: "
          f"{said!r}")


BROWSER_TASKS = [
    ("flip Hide All and see the status bar empty", hide_all),
    ("open the carrier dialog, type, save, read the carrier", carrier_dialog),
    ("choose clock mode 3 and read the network name in the bar", clock_mode_3),
    ("tap the bar and see the mode move on", tap_moves_mode),
    ("answer an alert", answer_alert),
    ("keyboard alone: Tab to a switch, Space flips it, Escape leaves a dialog and a chooser, Enter taps", keyboard_switch),
    ("the drawer offers every key and shows a refusal beside its field", drawer_keys),
    ("axe finds nothing serious on five states", axe_states),
    ("the buttons in view at 1280x800; the phone first at 800 px", layouts),
    ("ten reloads in a row, and the phone is drawn", reloads),
    ("a stopped device is said once, with the command that starts it", stopped_device),
]


def browser_suite(device, view):
    from webdriver import Browser  # fails with its message when Chromium is missing
    with tempfile.TemporaryDirectory(prefix="vantrel-chromium-", dir=short_tmp()) as profile:
        browser = Browser(profile)
        try:
            open_main_page(browser, view.url)
            for name, task in BROWSER_TASKS:
                wait_for(lambda: browser.js("return window.vantrel.pending;") == 0, what="the page's requests")
                task(*(browser, device, view)[:task.__code__.co_argcount])
                print(f"browser: {name}: passed", flush=True)
        finally:
            browser.quit()


# ---- screenshots

def png_rows(path):
    """The rows of an 8-bit RGB or RGBA PNG as bytes (filters undone), with the pixel size."""
    data = open(path, "rb").read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", chunk[:10])
            check(depth == 8 and colour in (2, 6), f"{path}: unexpected PNG format")
            size = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * size
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - size] if i >= size else 0
            b, c = prev[i], prev[i - size] if i >= size else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return rows, size


def screenshot_suite(device, view):
    with tempfile.TemporaryDirectory(prefix="vantrel-shots-") as out:
        shown, hidden = os.path.join(out, "shown.png"), os.path.join(out, "hidden.png")
        device.run("vantrel-view", "screenshot", shown, "--width", "720")
        device.settings("set", "hideall", "true")
        device.run("vantrel-view", "screenshot", hidden, "--width", "720")
        device.settings("set", "hideall", "false")
        a, size = png_rows(shown)
        b, _ = png_rows(hidden)
        check(len(a) == len(b) and len(a) > 10, "the two pictures differ in size")
        colours = {a[y][x:x + size] for y in range(0, len(a), 3) for x in range(0, len(a[0]), size * 3)}
        check(len(colours) > 20, f"the picture looks blank ({len(colours)} colours)")
        differing = sum(1 for y in range(len(a)) for x in range(0, len(a[0]), size) if a[y][x:x + 3] != b[y][x:x + 3])
        check(differing > 500, f"hide-all changed only {differing} pixels of the status bar")
        print(f"screenshot: {differing} pixels differ, {len(colours)} colours", flush=True)


SUITES = {"http": http_suite, "browser": browser_suite, "screenshot": screenshot_suite, "connections": connections_suite}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("suite", choices=sorted(SUITES))
    parser.add_argument("--bin", required=True)
    parser.add_argument("--timeout", type=float, default=150)
    args = parser.parse_args()
    reaper(args.timeout)
    device = Device(args.bin)
    view = None
    try:
        view = View(args.bin, device.folder)
        SUITES[args.suite](device, view)
    except AssertionError as e:
        print(f"FAIL: {e}", file=sys.stderr)
        return 1
    finally:
        if view:
            view.stop()
        end_all()
        device.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
