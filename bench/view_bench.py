#!/usr/bin/env python3
"""vantrel-view figures (not run by ctest): `python3 bench/view_bench.py [--bin BUILD/bin]`.

1. From the start of a page load (navigation, the token already in its cookie) to the frame that
   draws the phone with its status bar: p50 and p95 over 100 loads.
2. From a click on a switch in the page to the page's status bar redrawn, measured in the page
   with performance.now(): p50 and p95 over 200 clicks ("Hide All", on and off in turn).
3. The view's VmRSS after the page has loaded, and after 10,000 redraws (hardware changes posted
   to the view, each redrawn by SpringBoard and pushed to the open page).
"""
import argparse
import os
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "view"))
from harness import Device, View, end_all, open_main_page, reaper, wait_for  # noqa: E402
from webdriver import Browser  # noqa: E402

CLICKS = """
const [count, done] = [arguments[0], arguments[arguments.length - 1]];
const times = [];
const settle = (then) => (window.vantrel.pending ? setTimeout(() => settle(then), 5) : then());
function once() {
  if (times.length >= count) return done(times);
  const t0 = performance.now();
  const redrawn = () => {
    document.removeEventListener("vantrel-redrawn", redrawn);
    times.push(performance.now() - t0);
    setTimeout(() => settle(once), 10);
  };
  document.addEventListener("vantrel-redrawn", redrawn);
  document.querySelector('input[data-key="hideall"]').click();
}
settle(once);
"""


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    parser.add_argument("--loads", type=int, default=100)
    parser.add_argument("--clicks", type=int, default=200)
    parser.add_argument("--redraws", type=int, default=10000)
    args = parser.parse_args()
    reaper(1800)
    device = Device(args.bin)
    view = View(args.bin, device.folder)
    try:
        with tempfile.TemporaryDirectory(prefix="vantrel-chromium-") as profile:
            browser = Browser(profile)
            try:
                browser.cmd("POST", "/timeouts", {"script": 600000})
                open_main_page(browser, view.url)
                loads = []
                page = view.url.split("?")[0]
                for _ in range(args.loads):
                    browser.get(page)
                    loads.append(wait_for(lambda: browser.js("return window.vantrel && window.vantrel.firstDrawn;"),
                                          what="the phone drawn"))
                if loads:
                    print(f"page load to the bar drawn, {len(loads)} loads: p50 {percentile(loads, 50):.1f} ms, "
                          f"p95 {percentile(loads, 95):.1f} ms, max {max(loads):.1f} ms")
                wait_for(lambda: browser.js("return document.querySelector('input[data-key=\"hideall\"]') !== null;"),
                         what="the main page")
                time.sleep(5)  # the reloaded pages' streams end at their next keep-alive; the clicks start after
                times = browser.js_async(CLICKS, args.clicks)
                print(f"click to redrawn bar, {len(times)} clicks: p50 {percentile(times, 50):.1f} ms, "
                      f"p95 {percentile(times, 95):.1f} ms, max {max(times):.1f} ms")

                if args.redraws <= 0:
                    return
                start_rss = rss_kib(view.proc.pid)
                first = browser.js("return window.vantrel.version;")
                began = time.monotonic()
                for i in range(args.redraws):
                    status, data = view.http("POST", "/api/device/hardware", {"changes": {"batteryLevel": i % 100}})
                    if status != 200:
                        raise AssertionError(f"hardware change {i}: {status} {data[:200]!r}")
                wait_for(lambda: browser.js("return window.vantrel.version;") >= first + args.redraws * 0.9,
                         timeout=60, what="the page to see the redraws")
                seconds = time.monotonic() - began
                end_rss = rss_kib(view.proc.pid)
                seen = browser.js("return window.vantrel.version;") - first
                print(f"VmRSS of vantrel-view: {start_rss} KiB at start, {end_rss} KiB after {args.redraws} redraws "
                      f"({seen} reached the page, {seconds:.0f} s): x{end_rss / start_rss:.2f}")
            finally:
                browser.quit()
    finally:
        view.stop()
        end_all()
        device.stop()


if __name__ == "__main__":
    main()
