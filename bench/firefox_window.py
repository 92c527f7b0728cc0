#!/usr/bin/env python3
"""Opens one report in a real Firefox window and prints what the page timed.

Used by bench/browser, once per load:

    firefox_window.py FIREFOX DISPLAY REPORT WORK [warm]

FIREFOX may also be Chromium (a program whose name holds "chromium"): it
then opens the page headless, DISPLAY unused, with the same timing. REPORT
may be a view page (demo2html --view): its copy then goes without the
page's Content-Security-Policy, which would keep the timing from reaching
the server, and the script also scrolls the view to 60 places, one a frame,
and reads the view's own measure of its work per scroll, and the length of
the frame that follows each scroll (from its animation frame to the next),
in which the new rows are laid out and painted.

With "warm", the browser first opens a page of one word, and from there,
half a second after its load, the timed page: a browser that is running
already, as when a user opens a second file. The timing is that of the
second page's navigation.

REPORT is a report with res/ beside it. A copy of it, timed.htm beside it,
carries a small script in its head; the copy is made once and is otherwise
the report byte for byte. Firefox (not headless) opens that copy from a
file: URL in a window of 1000 x 760 pixels on the X display DISPLAY, in a
new profile made under WORK (also its HOME) and removed afterwards. After
the page's load event the script reads the page's own timing, measured
from the start of its navigation:

    load  the end of the load event (PerformanceNavigationTiming.loadEventEnd)
    fcp   the first contentful paint (the "first-contentful-paint" entry of
          performance.getEntriesByType("paint")), or "-" when Firefox gives
          none within 5 s of the load event

and posts them to an HTTP server of this script on 127.0.0.1, whose port it
reads from the page's URL. Then the browser's process group is ended. One
line goes to standard output: "LOAD FCP WIDTH HEIGHT", the two times in
seconds, then the window's inner size in CSS pixels; for a view, then
"SCROLL_MAX SCROLL_MEAN FRAME_MEDIAN FRAME_MAX" in milliseconds.

Every wait is bounded: no answer within TIMEOUT seconds (environment,
default 300) ends the browser and exits 1.
"""

import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

# The window's outer size, as Chromium's --window-size in bench/browser.
WIDTH, HEIGHT = "1000", "760"

SCRIPT = """<SCRIPT>
"use strict";
addEventListener("load", () => setTimeout(() => {
  const port = new URLSearchParams(location.search).get("port");
  const navigation = performance.getEntriesByType("navigation")[0];
  const answer = {load: navigation ? navigation.loadEventEnd : performance.timing.loadEventEnd -
                        performance.timing.navigationStart,
                  fcp: null, width: innerWidth, height: innerHeight};
  let sent = false;
  const post = extra => fetch("http://127.0.0.1:" + port + "/timing",
                              {method: "POST", mode: "no-cors", body: JSON.stringify(Object.assign(answer, extra))});
  const send = () => {
    if (sent) return;
    sent = true;
    if (window.timedSend) window.timedSend(post);
    else post({});
  };
  const found = entries => {
    for (const entry of entries) {
      if (entry.name === "first-contentful-paint") {
        answer.fcp = entry.startTime;
        send();
      }
    }
  };
  found(performance.getEntriesByType("paint"));
  if (!sent && typeof PerformanceObserver === "function") {
    try {
      new PerformanceObserver(list => found(list.getEntries())).observe({type: "paint", buffered: true});
    } catch (e) {}
  }
  setTimeout(send, 5000);
}, 0));
</SCRIPT>"""

# For a view: before the timing is sent, the strip's time to be whole after
# the load event, a find through the whole demo that finds nothing (the
# stick at or beyond 129 %), a comparison with a copy of the demo whose last
# entry differs, then, with the comparison on, 60 jumps to places spread
# over the whole demo, one a frame; the view counts its own work per scroll.
VIEW_SCROLLS = """<SCRIPT>
"use strict";
window.timedSend = send => {
  const view = window.demoView;
  if (!view) return send({});
  const parts = view.view;
  if (!parts.strip.done) return setTimeout(() => window.timedSend(send), 10);
  const loaded = performance.getEntriesByType("navigation")[0].loadEventEnd;
  const tools = {strip: parts.strip.doneAt - loaded};
  parts.goToLine(0);
  document.getElementById("find-what").value = "16";
  document.getElementById("find-strength").value = "129";
  let started = performance.now();
  parts.find(1);
  tools.find = performance.now() - started;
  const other = parts.demo.bytes().slice();
  other[other.length - 5] ^= 1;
  started = performance.now();
  parts.compareWith(other, "other.demo");
  tools.compare = performance.now() - started;
  view.stats.renders = 0; view.stats.total = 0; view.stats.max = 0;
  let left = 60;
  const frames = [];
  const step = () => {
    if (left-- === 0) {
      frames.sort((a, b) => a - b);
      return send({scroll_max: view.stats.max, scroll_mean: view.stats.total / view.stats.renders,
                   frame_median: frames[frames.length >> 1], frame_max: frames[frames.length - 1],
                   strip: tools.strip, find: tools.find, compare: tools.compare});
    }
    scrollTo(0, Math.random() * (document.documentElement.scrollHeight - innerHeight));
    // The scroll's event comes before the next animation frame's callbacks;
    // that frame then lays out and paints the new rows.
    requestAnimationFrame(shown => requestAnimationFrame(next => {
      frames.push(next - shown);
      step();
    }));
  };
  step();
};
</SCRIPT>"""

# A profile that opens the page and nothing else: no first-run or welcome
# pages, no telemetry, updates, safe browsing lists or other background
# traffic (the machine may have no network), no session restore.
PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.startup.page": 0,
    "browser.startup.homepage": "about:blank",
    "startup.homepage_welcome_url": "",
    "startup.homepage_welcome_url.additional": "",
    "browser.aboutwelcome.enabled": False,
    "browser.newtabpage.enabled": False,
    "browser.newtabpage.activity-stream.feeds.system.topstories": False,
    "browser.newtabpage.activity-stream.feeds.section.topstories": False,
    "browser.newtabpage.activity-stream.feeds.snippets": False,
    "browser.newtabpage.activity-stream.telemetry": False,
    "browser.ping-centre.telemetry": False,
    "browser.sessionstore.resume_from_crash": False,
    "browser.tabs.warnOnClose": False,
    "browser.warnOnQuit": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "browser.safebrowsing.blockedURIs.enabled": False,
    "browser.safebrowsing.update.enabled": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.enabled": False,
    "toolkit.telemetry.unified": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "toolkit.telemetry.shutdownPingSender.enabled": False,
    "toolkit.startup.max_resumed_crashes": -1,
    "app.update.enabled": False,
    "app.update.auto": False,
    "app.normandy.enabled": False,
    "extensions.update.enabled": False,
    "extensions.getAddons.cache.enabled": False,
    "extensions.blocklist.enabled": False,
    "media.gmp-manager.updateEnabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.dns.disablePrefetch": True,
    "network.prefetch-next": False,
    "network.http.speculative-parallel-limit": 0,
    "services.settings.server": "http://127.0.0.1:9/",
    "dom.disable_open_during_load": False,
    "dom.performance.time_to_contentful_paint.enabled": True,
    "privacy.reduceTimerPrecision": False,
}


def timed_copy(report):
    """The report with the timing script in its head, beside the report."""
    timed = os.path.join(os.path.dirname(report), "timed.htm")
    if not os.path.exists(timed):
        with open(report, "rb") as source:
            data = source.read()
        script = SCRIPT.encode()
        if data.startswith(b"<!DOCTYPE html>"):
            data = re.sub(rb'<meta http-equiv="Content-Security-Policy"[^>]*>', b"", data, count=1)
            script += VIEW_SCROLLS.encode()
        head_end = data.index(b"</HEAD>") if b"</HEAD>" in data else data.index(b"</head>")
        with open(timed + ".part", "wb") as copy:
            copy.write(data[:head_end] + script + data[head_end:])
        os.replace(timed + ".part", timed)
    return timed


# The page a warm browser opens first; it goes on to the page in "to".
OPENING = """<!DOCTYPE html><meta charset="utf-8"><title>opening</title><p>opening<script>
addEventListener("load", () => setTimeout(() => {
  const query = new URLSearchParams(location.search);
  location.href = query.get("to") + "?port=" + query.get("port");
}, 500));
</script>"""


def main():
    firefox, display, report, work = sys.argv[1:5]
    warm = sys.argv[5:] == ["warm"]
    work = os.path.abspath(work)
    timeout = float(os.environ.get("TIMEOUT", "300"))
    page = timed_copy(os.path.abspath(report))

    answers = []
    arrived = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            answers.append(self.rfile.read(length).decode("utf-8", "replace"))
            self.send_response(204)
            self.end_headers()
            arrived.set()

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]

    profile = tempfile.mkdtemp(prefix="firefox-profile-", dir=work)
    with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as prefs:
        for name, value in PREFS.items():
            prefs.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))
    # HOME must be an absolute path, or Firefox never opens the page.
    env = dict(os.environ, DISPLAY=display, HOME=profile, MOZ_CRASHREPORTER_DISABLE="1")
    env.pop("MOZ_HEADLESS", None)
    url = "file://%s?port=%d" % (page, port)
    if warm:
        opening = os.path.join(profile, "opening.htm")
        with open(opening, "w", encoding="utf-8") as first:
            first.write(OPENING)
        url = "file://%s?port=%d&to=%s" % (opening, port, "file://" + page)
    command = [firefox, "--no-remote", "--new-instance", "-profile", profile, "-width", WIDTH, "-height", HEIGHT, url]
    if "chromium" in os.path.basename(firefox):
        command = [firefox, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile, "--window-size=%s,%s" % (WIDTH, HEIGHT), url]
    browser = subprocess.Popen(
        command,
        env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    try:
        waited = 0.0
        while not arrived.wait(1) and browser.poll() is None and waited < timeout:
            waited += 1
    finally:
        # The browser and its content processes share its process group:
        # asked to end, then killed, what is left of it.
        try:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait(15)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
        try:
            os.killpg(browser.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        browser.wait()
        server.shutdown()
        server.server_close()
        shutil.rmtree(profile, ignore_errors=True)

    if not answers:
        print("firefox_window.py: no timing from %s within %g s" % (page, timeout), file=sys.stderr)
        return 1
    answer = json.loads(answers[0])
    fcp = "-" if answer.get("fcp") is None else "%.3f" % (answer["fcp"] / 1000)
    line = "%.3f %s %d %d" % (answer["load"] / 1000, fcp, answer["width"], answer["height"])
    if "scroll_max" in answer:
        line += " %.2f %.2f %.2f %.2f %.1f %.1f %.1f" % (
            answer["scroll_max"], answer["scroll_mean"], answer["frame_median"], answer["frame_max"], answer["strip"],
            answer["find"], answer["compare"])
    print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
