#!/usr/bin/env python3
"""Opens demo2html reports in headless Chromium and Firefox, as a user sees them.

The reports are written by the program itself (the example demo and a demo
that shows every icon) into an empty folder, where it puts res/ beside them, and
served from a loopback HTTP server. A small checking page loads each report
untouched in a frame and writes its verdict into the page, which Chromium's
--dump-dom prints. It asserts that the stylesheet applied (the "switch"
stripe differs from a plain row, headings are sticky, numbers use tabular
figures), that every one of the 18 icons decoded, and that nothing failed
to load; the dark scheme is checked in a second run. Then it saves
screenshots of the example's report, light and dark. When Firefox is there,
the same page runs in it, light and dark, and sends its verdict to the server.

Exits 0 when all holds, 1 when something does not, 77 (skipped) when there
is no Chromium.
"""

import argparse
import html
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading

SKIPPED = 77
ICONS = "SLT SRT SDN SUP CLT CRT CDN CUP R L LT RT DN UP S Z B A".split()
REPORTS = ["example.htm", "every_icon.htm"]
WINDOW = "1000,760"

# Runs inside the browser: inspects each report in a frame of its own and puts
# what it found, as JSON, into <pre id="verdict">.
CHECK_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><link rel="icon" href="data:,"><title>check</title></head>
<body><pre id="verdict"></pre>
<script>
"use strict";
const reports = @REPORTS@;
const icons = @ICONS@;

// True when the decoded picture has visible pixels in its top and in its
// bottom quarter: every icon does, a file cut off half way does not.
function paintsTopAndBottom(image) {
  const canvas = document.createElement("canvas");
  canvas.width = image.naturalWidth;
  canvas.height = image.naturalHeight;
  const context = canvas.getContext("2d", {willReadFrequently: true});
  context.drawImage(image, 0, 0);
  const quarter = Math.floor(canvas.height / 4);
  const visible = top => context.getImageData(0, top, canvas.width, quarter).data.some((v, i) => i % 4 === 3 && v > 0);
  return quarter > 0 && visible(0) && visible(canvas.height - quarter);
}

function inspect(name, doc) {
  const problems = [];
  const view = doc.defaultView;
  const style = (element, pseudo) => view.getComputedStyle(element, pseudo || null);
  const sheets = [...doc.styleSheets];
  let rules = [];
  try {
    rules = sheets.flatMap(sheet => [...sheet.cssRules]);
  } catch (error) {
    problems.push("stylesheet rules cannot be read: " + error);
  }
  if (sheets.length !== 1 || !sheets[0].href.endsWith("/res/pretty.css") || rules.length === 0) {
    problems.push("res/pretty.css did not load as the report's only stylesheet");
  }
  const media = rules.filter(rule => rule.media).map(rule => rule.media.mediaText);
  for (const wanted of ["print", "(prefers-color-scheme: dark)"]) {
    if (!media.includes(wanted)) problems.push("no @media " + wanted + " rule");
  }

  const striped = doc.querySelector("tr.switch");
  const plain = doc.querySelector("tr:not(.switch) + tr.switch + tr:not(.switch)");
  if (!striped || !plain) {
    problems.push("no striped row followed by a plain one");
  } else if (style(striped).backgroundColor === style(plain).backgroundColor) {
    problems.push("the switch stripe looks like a plain row: " + style(plain).backgroundColor);
  }
  const bar = doc.querySelector("body > b");
  const heading = doc.querySelector("th");
  const cell = doc.querySelector("td");
  if (!bar || style(bar).position !== "sticky") problems.push("block headings are not sticky");
  if (!heading || style(heading).position !== "sticky") problems.push("controller headings are not sticky");
  if (!cell || !style(cell).fontVariantNumeric.includes("tabular-nums")) {
    problems.push("cells do not use tabular figures");
  }
  const numbered = doc.querySelector("tr + tr");
  if (!numbered || style(numbered, "::before").content !== "counter(row)") {
    problems.push("rows are not numbered");
  }

  const images = [...doc.images];
  const seen = new Set();
  for (const image of images) {
    seen.add(image.getAttribute("src").replace(/^res\//, "").replace(/\.png$/, ""));
    if (!image.complete || image.naturalWidth === 0 || image.naturalHeight === 0) {
      problems.push(image.getAttribute("src") + " did not decode");
    }
  }
  const sizes = {};
  for (const icon of icons) {
    const image = images.find(i => i.getAttribute("src") === "res/" + icon + ".png");
    if (!image) continue;
    sizes[icon] = [image.naturalWidth, image.naturalHeight, image.width, image.height];
    if (image.naturalWidth === 0 || !paintsTopAndBottom(image)) {
      problems.push("res/" + icon + ".png did not decode whole");
    }
  }
  return {
    name: name,
    mode: doc.compatMode,
    page: style(doc.documentElement).backgroundColor,
    images: images.length,
    icons: [...seen].sort(),
    sizes: sizes,
    problems: [...new Set(problems)],
  };
}

function load(name) {
  return new Promise(resolve => {
    const frame = document.createElement("iframe");
    frame.style.width = "1000px";
    frame.style.height = "700px";
    frame.onload = () => {
      try {
        resolve(inspect(name, frame.contentDocument));
      } catch (error) {
        resolve({name: name, problems: [String(error)]});
      }
    };
    frame.src = name;
    document.body.appendChild(frame);
  });
}

// Writes the verdict into the page; with "?post", as for Firefox, which has
// no way to print the page, it also sends it to the server, before the page's
// load event ends the browser's run.
function report(verdict) {
  document.getElementById("verdict").textContent = JSON.stringify(verdict);
  if (location.search !== "?post") return;
  const request = new XMLHttpRequest();
  request.open("POST", "verdict", false);
  request.send(JSON.stringify(verdict));
}

Promise.all(reports.map(load))
  .then(report)
  .catch(error => report({error: String(error)}));
</script></body></html>
"""


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Server:
    """A loopback HTTP server over one folder that remembers every answer."""

    def __init__(self, folder):
        answers = self.answers = []
        posted = self.posted = []

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=folder, **kwargs)

            def do_GET(self):
                # The browser asks for a page icon of its own; it is not one
                # of the report's resources.
                if self.path == "/favicon.ico":
                    self.send_response(204)
                    self.end_headers()
                    return
                super().do_GET()

            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                posted.append(json.loads(body))
                self.send_response(204)
                self.end_headers()

            def log_request(self, code="-", size="-"):
                answers.append((self.path, int(code)))

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


def run_browser(command):
    """Runs a browser's COMMAND with a temporary folder (TMPDIR) of its own,
    removed afterwards: the sockets and locks a browser puts there go too when
    it was killed or crashed."""
    scratch = tempfile.mkdtemp(prefix="demo2html_browser_")
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=120,
                              env=dict(os.environ, TMPDIR=scratch))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def run_chromium(chromium, work, flags, url):
    """Runs Chromium once, in a new empty profile, and returns its stdout."""
    profile = tempfile.mkdtemp(prefix="profile-", dir=work)
    command = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--no-proxy-server", "--hide-scrollbars", "--window-size=" + WINDOW,
               "--user-data-dir=" + profile] + flags + [url]
    try:
        done = run_browser(command)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if done.returncode != 0:
        raise RuntimeError("chromium exited with %d:\n%s" % (done.returncode, done.stderr[-2000:]))
    return done.stdout


def verdict_of(dom):
    found = re.search(r'<pre id="verdict">(.*?)</pre>', dom, re.S)
    if not found or not found.group(1):
        raise RuntimeError("the checking page wrote no verdict; the page printed:\n" + dom[-2000:])
    return json.loads(html.unescape(found.group(1)))


def write_reports(args, site):
    """Runs demo2html as a user would, into an empty folder: the program
    itself must put res/ beside the reports, byte for byte the project's."""
    if os.listdir(site):
        raise RuntimeError("%s is not empty" % site)
    shapes = os.path.join(site, "..", "shapes")
    os.makedirs(shapes)
    subprocess.run([args.make_demo, "--shapes", shapes], check=True)
    demos = {"example.htm": args.example, "every_icon.htm": os.path.join(shapes, "every_icon.demo")}
    for report, demo in demos.items():
        done = subprocess.run([args.demo2html, demo, os.path.join(site, report)], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        notes_only = all(line.startswith("demo2html: note: ") for line in done.stderr.splitlines())
        if done.returncode != 0 or not notes_only:
            raise RuntimeError("demo2html %s failed (%d): %s" % (demo, done.returncode, done.stderr))
    for name in os.listdir(args.res):
        with open(os.path.join(args.res, name), "rb") as shipped, open(os.path.join(site, "res", name), "rb") as got:
            if shipped.read() != got.read():
                raise RuntimeError("res/%s beside the reports is not the project's" % name)


def problems_in(results, scheme):
    problems = []
    if not isinstance(results, list):
        return ["%s: the checking page failed: %s" % (scheme, results)]
    for result in results:
        name = "%s (%s)" % (result["name"], scheme)
        problems += ["%s: %s" % (name, p) for p in result["problems"]]
        if result["images"] == 0:
            problems.append(name + ": shows no icons")
    every = [r for r in results if r["name"] == "every_icon.htm"][0]
    missing = sorted(set(ICONS) - set(every["icons"]))
    if missing:
        problems.append("every_icon.htm (%s) lacks %s" % (scheme, " ".join(missing)))
    return problems


# ---------------------------------------------------------------- Firefox
# The same checking page in headless Firefox, light and dark: the page sends
# its verdict to the server before its load event, after which Firefox takes
# its screenshot and quits.

def run_firefox(firefox, work, url, shot, dark):
    """Runs Firefox once, in a new profile, saving a screenshot of URL."""
    profile = tempfile.mkdtemp(prefix="firefox-", dir=work)
    with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as prefs:
        prefs.write('user_pref("layout.css.prefers-color-scheme.content-override", %d);\n' % (0 if dark else 1))
        prefs.write('user_pref("ui.systemUsesDarkTheme", %d);\n' % (1 if dark else 0))
    command = [firefox, "--headless", "-profile", profile, "--window-size", WINDOW, "--screenshot", shot, url]
    try:
        done = run_browser(command)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if done.returncode != 0 or not os.path.exists(shot):
        raise RuntimeError("firefox exited with %d:\n%s" % (done.returncode, done.stderr[-2000:]))


def check_firefox(firefox, work, server):
    problems, pages = [], []
    for scheme, dark in (("light", False), ("dark", True)):
        del server.posted[:]
        shot = os.path.join(work, "firefox-%s.png" % scheme)
        run_firefox(firefox, work, server.url + "check.html?post", shot, dark)
        verdict = server.posted[0] if server.posted else "no verdict"
        problems += ["Firefox " + p for p in problems_in(verdict, scheme)]
        if isinstance(verdict, list):
            pages.append(verdict[0]["page"])
    if len(pages) == 2 and pages[0] == pages[1]:
        problems.append("Firefox: the dark scheme has the light page colour " + pages[0])
    return problems


def check(args, chromium):
    if os.path.exists(args.work):
        shutil.rmtree(args.work)
    site = os.path.join(args.work, "site")
    os.makedirs(site)
    write_reports(args, site)
    with open(os.path.join(site, "check.html"), "w", encoding="utf-8") as page:
        page.write(CHECK_PAGE.replace("@REPORTS@", json.dumps(REPORTS)).replace("@ICONS@", json.dumps(ICONS)))

    os.makedirs(args.screenshots, exist_ok=True)
    with Server(site) as server:
        budget = ["--virtual-time-budget=10000", "--dump-dom"]
        light = verdict_of(run_chromium(chromium, args.work, budget, server.url + "check.html"))
        dark = verdict_of(run_chromium(chromium, args.work, budget + ["--force-dark-mode"],
                                       server.url + "check.html"))
        for scheme, flags in (("report.png", []), ("report-dark.png", ["--force-dark-mode"])):
            shot = os.path.join(args.screenshots, scheme)
            run_chromium(chromium, args.work, flags + ["--screenshot=" + shot], server.url + "example.htm")
            if not os.path.getsize(shot):
                raise RuntimeError("no screenshot in " + shot)
        firefox = shutil.which("firefox-esr") or shutil.which("firefox")
        firefox_problems = check_firefox(firefox, args.work, server) if firefox else []
        answers = list(server.answers)

    if not firefox:
        print("no firefox on PATH: the report is checked in Chromium only")
    problems = firefox_problems + problems_in(light, "light") + problems_in(dark, "dark")
    if isinstance(light, list) and isinstance(dark, list) and light[0]["page"] == dark[0]["page"]:
        problems.append("the dark scheme has the light page colour " + light[0]["page"])
    failed = sorted({"%s answered %d" % answer for answer in answers if answer[1] >= 400})
    asked = {path for path, _ in answers}
    unasked = [r for r in ["/res/pretty.css"] + ["/res/%s.png" % i for i in ICONS] if r not in asked]
    problems += failed + ["%s was never asked for" % r for r in unasked]

    for result in light if isinstance(light, list) else []:
        print("%s: %s mode, %d images, icons %s, page %s" % (result["name"], result["mode"], result["images"],
                                                             " ".join(result["icons"]), result["page"]))
    if isinstance(dark, list):
        print("dark scheme page colour: %s" % dark[0]["page"])
    print("requests: %d, failed: %d; screenshots in %s" % (len(answers), len(failed), args.screenshots))
    for problem in problems:
        print("PROBLEM: " + problem)
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--demo2html", required=True)
    parser.add_argument("--make-demo", required=True)
    parser.add_argument("--example", required=True, help="the example demo")
    parser.add_argument("--res", required=True, help="the project's res/ folder, which the program must write beside the reports")
    parser.add_argument("--work", required=True, help="a scratch folder, emptied first")
    parser.add_argument("--screenshots", required=True, help="where report.png and report-dark.png go")
    args = parser.parse_args()
    chromium = find_chromium()
    if chromium is None:
        print("no chromium on PATH: the browser test is skipped")
        return SKIPPED
    try:
        return check(args, chromium)
    except (RuntimeError, OSError, subprocess.SubprocessError) as error:
        print("FAILED: %s" % error)
        return 1


if __name__ == "__main__":
    sys.exit(main())
