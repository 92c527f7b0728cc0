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

The view pages (demo2html --view) of several demos are checked against
their reports, in both engines: a second checking page has each view's own
script build the element of every line, bar and row, without scrolling, and
hands back what they show (each block's header word and size, each row's
stripe and each cell's stick directions, strengths and buttons, the summary's
text and the closing line); the same is parsed from the report's HTML, and
every difference is a problem. The views come from file: URLs for their
screenshots, in both engines.

Exits 0 when all holds, 1 when something does not, 77 (skipped) when there
is no Chromium.
"""

import argparse
import base64
import csv
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
import time

SKIPPED = 77
ICONS = "SLT SRT SDN SUP CLT CRT CDN CUP R L LT RT DN UP S Z B A".split()
REPORTS = ["example.htm", "every_icon.htm", "every_byte.htm"]
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

function inspect(name, frame) {
  const doc = frame.contentDocument;
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

  // Each button stands at one place from its cell's right edge in every row
  // of its table, clear of the cells' texts, its lane as far from the next as
  // 22 px per heading icon.
  const text = doc.createRange();
  for (const table of [...doc.querySelectorAll("table")].filter(t => t.querySelector("th"))) {
    const order = style(table.querySelector("th")).backgroundImage.split(",").map(url => /(\w+)\.png/.exec(url)[1]);
    const places = order.map(() => new Set());
    let textEnd = -Infinity;
    for (const td of table.querySelectorAll("td")) {
      const right = td.getBoundingClientRect().right;
      for (const image of td.querySelectorAll("img")) {
        const lane = order.indexOf(/(\w+)\.png$/.exec(image.getAttribute("src"))[1]);
        if (lane >= 0) places[lane].add(Math.round(image.getBoundingClientRect().left - right - 22 * lane));
      }
      for (const node of [...td.childNodes].filter(n => n.nodeType === Node.TEXT_NODE)) {
        text.selectNode(node);
        textEnd = Math.max(textEnd, text.getBoundingClientRect().right - right);
      }
    }
    const lanes = new Set(places.flatMap(set => [...set]));
    if (lanes.size > 1 || [...lanes].some(place => place < textEnd - 0.5)) {
      problems.push("buttons out of their lanes: " + places.map((set, i) => order[i] + "@" + [...set]).join(" ") + ", texts end at " + textEnd);
    }
  }

  // Half way down a table taller than the frame, its bar and headings stay
  // at the top of the window and show there over the rows.
  const tall = [...doc.querySelectorAll("table")].find(t => t.querySelector("th") && t.offsetHeight > 2 * view.innerHeight);
  if (tall) {
    view.scrollTo(0, tall.getBoundingClientRect().top + view.scrollY + tall.offsetHeight / 2);
    const th = tall.querySelector("th");
    const head = th.getBoundingClientRect();
    const barShown = doc.elementFromPoint(head.left + 4, 4)?.closest("body > b, body > i");
    const headShown = th.contains(doc.elementFromPoint(head.left + 4, head.top + 4));
    if (!barShown || !headShown || Math.abs(head.top - doc.querySelector("body > b").getBoundingClientRect().bottom) > 1) {
      problems.push("half way down a table its bar and headings are not at the top: headings at " + head.top);
    }
    view.scrollTo(0, 0);
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

@LOAD_FUNCTION@
@REPORT_FUNCTION@
Promise.all(reports.map(name => load(name, 1000)))
  .then(report)
  .catch(error => report({error: String(error)}));
</script></body></html>
"""

# Both checking pages open each page in a frame of WIDTH pixels, inspect it
# once it has loaded, and drop the frame.
LOAD_FUNCTION = """function load(name, width) {
  return new Promise(resolve => {
    const frame = document.createElement("iframe");
    frame.style.width = width + "px";
    frame.style.height = "700px";
    frame.onload = () => {
      Promise.resolve().then(() => inspect(name, frame))
        .catch(error => ({name: name, problems: [String(error)]}))
        .then(result => {
          frame.remove();
          resolve(result);
        });
    };
    frame.src = name;
    document.body.appendChild(frame);
  });
}
"""

# Both checking pages write their verdict into the page; with "?post", as for
# Firefox, which has no way to print the page, they also send it to the
# server, before the page's load event ends the browser's run.
REPORT_FUNCTION = """function report(verdict) {
  document.getElementById("verdict").textContent = JSON.stringify(verdict);
  if (location.search !== "?post") return;
  const request = new XMLHttpRequest();
  request.open("POST", "verdict", false);
  request.send(JSON.stringify(verdict));
}
"""

# Runs inside the browser: opens each view in a frame and has the view's own
# script build every line; puts what the lines show, as JSON, into
# <pre id="verdict"> (and posts it with "?post").
VIEW_CHECK_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><link rel="icon" href="data:,"><title>view check</title></head>
<body><pre id="verdict"></pre>
<script>
"use strict";
// Firefox's run ends with the page's load event: a frame that loads until
// the verdict is sent holds it back while the checks wait for the views.
if (location.search === "?post") document.body.appendChild(document.createElement("iframe")).src = "/wait";
const views = @VIEWS@;
const iconData = @ICON_DATA@; // the base64 of each icon's file -> its name

// The icons an element draws, from its computed style: each background
// layer's image known by its bytes, and the place of its left edge in the
// cell.
function drawn(element) {
  const style = element.ownerDocument.defaultView.getComputedStyle(element);
  const images = style.backgroundImage === "none" ? [] : style.backgroundImage.split(/,\s*(?=url\()/);
  const places = style.backgroundPosition.split(",");
  return images.map((image, i) => {
    const data = /base64,([A-Za-z0-9+\/=]+)/.exec(image);
    return {name: (data && iconData[data[1]]) || "?", left: parseFloat(style.left) + parseFloat(places[i])};
  });
}

// A cell as "X-DIRECTION STRENGTH|Y-DIRECTION STRENGTH|BUTTONS", the buttons
// and reserved texts sorted; a button drawn outside its lane (the left edge
// of its heading, in `lanes`) shows as NAME@LEFT.
function cell(element, lanes) {
  const directions = [...element.querySelectorAll(".d")].map(d => drawn(d).map(icon => icon.name).join("+"));
  const strengths = [...element.querySelectorAll(".m")].map(m => m.textContent);
  const buttons = [...element.querySelectorAll(".k")].flatMap(drawn)
    .map(icon => (icon.left === lanes[icon.name] ? icon.name : icon.name + "@" + icon.left))
    .concat([...element.querySelectorAll(".r u")].map(u => u.textContent.trim())).sort();
  return directions[0] + " " + strengths[0] + "|" + directions[1] + " " + strengths[1] + "|" + buttons.join(",");
}

// After jumps to places across the demo, each line in the window, its
// element filled in again from another line's, must be that line as the
// view's element() makes it anew. A line is 24 pixels from the rows' top.
function scrolledProblems(frame, view) {
  const problems = [];
  const count = view.lineCount;
  for (const place of [count - 1, 0, 1, count >> 1, Math.floor(count / 3), count - 40, 7]) {
    if (place < 0 || place >= count) continue;
    view.goToLine(place);
    frame.contentWindow.dispatchEvent(new Event("scroll"));
    for (const element of frame.contentDocument.querySelectorAll("#rows > *")) {
      const fresh = view.element(Math.round(parseFloat(element.style.top) / 24));
      if (element.className !== fresh.className || element.innerHTML !== fresh.innerHTML) {
        problems.push("after going to line " + place + " the window shows " + element.outerHTML + ", not " +
                      fresh.outerHTML);
      }
    }
    problems.push(...barProblems(frame.contentDocument, view, place));
  }
  return problems.slice(0, 3);
}

// One block bar in the window: the head's, no block's own bar showing the
// same block; at the end the head names the last block. The stick
// strengths' texts end 4 px or more before the first button's lane.
function barProblems(doc, view, place) {
  const problems = [];
  const head = doc.getElementById("current").textContent;
  const bars = [...doc.querySelectorAll("#rows > .bar")].filter(bar => getComputedStyle(bar).visibility !== "hidden");
  if (bars.some(bar => bar.textContent === head)) problems.push("at line " + place + " two bars show " + head);
  const blocks = view.blocks().length;
  const named = doc.getElementById("current").firstChild;
  if (place === view.lineCount - 1 && blocks && named.data !== "Block " + blocks) {
    problems.push("after End the head shows " + head + " of " + blocks + " blocks");
  }
  const text = doc.createRange();
  for (const strength of doc.querySelectorAll("#rows .d.y")) {
    text.selectNodeContents(strength);
    const lane = strength.parentNode.getBoundingClientRect().left + 1 + 100;
    if (text.getBoundingClientRect().right > lane - 3.5) problems.push("a Y strength's text touches the lanes");
  }
  return [...new Set(problems)];
}

let inspect = function (name, frame) {
  const doc = frame.contentDocument;
  const view = frame.contentWindow.demoView;
  if (!view) return {name: name, problems: ["the view's script did not run"]};
  // Each button's lane: the left edge of its heading in the cell.
  const laneOf = {};
  const heading = doc.querySelector("#lanes .c");
  for (const icon of heading ? heading.querySelectorAll("[title]") : []) {
    laneOf[drawn(icon)[0].name] = parseFloat(icon.style.left);
  }
  // The lines are built by the view's own code into a hidden holder of its
  // page, a block at a time, so that the page's rules apply to them.
  const holder = doc.createElement("div");
  holder.hidden = true;
  doc.body.appendChild(holder);
  const blocks = view.blocks().map(block => {
    const bar = view.element(block.line);
    const elements = [];
    for (let row = 0; row < block.shown; row++) elements.push(view.element(block.line + 1 + row));
    holder.replaceChildren(...elements);
    const rows = elements.map(element => [element.classList.contains("switch"),
                                           [...element.querySelectorAll(".c")].map(c => cell(c, laneOf))]);
    return {word: bar.querySelector(".w").textContent, size: bar.querySelector(".s").textContent, rows: rows};
  });
  holder.remove();
  const lanes = doc.querySelectorAll("#lanes .c");
  const width = lanes.length ? lanes[lanes.length - 1].getBoundingClientRect().right : 0;
  return {
    name: name,
    summary: doc.getElementById("summary").textContent,
    closing: doc.getElementById("closing").textContent,
    notes: doc.getElementById("notes").textContent,
    lanes: lanes.length,
    width: width,
    shown: doc.querySelectorAll("#rows > *").length,
    lines: view.lineCount,
    demoName: doc.getElementById("demo-name").textContent,
    savedAs: doc.getElementById("save").download,
    markup: doc.querySelectorAll("body svg, body img").length,
    saved: saved(doc),
    blocks: blocks,
    problems: scrolledProblems(frame, view),
  };
};

// The strip of a demo of one controller whose Z is held in rows 100 to
// 199 (from 0) of 10,000, once it is whole: exactly Z's lane is dark, in
// the pixel rows that cover them; the bounds' column marks each block's
// first row; the title names the row under the pointer, a click goes there.
async function stripProblems(frame) {
  const view = frame.contentWindow.demoView.view;
  for (let waited = 0; waited < 5000 && !view.strip.done; waited += 50) await rest(frame.contentWindow, 50);
  const canvas = frame.contentDocument.querySelector("#strip canvas");
  const {width, height} = canvas;
  const data = canvas.getContext("2d").getImageData(0, 0, width, height).data;
  const held = new Set();
  for (let row = 100; row < 200; row++) held.add(Math.floor((row * height) / 10000));
  const bounds = new Set(view.demo.blocks.map(block => Math.floor((block.firstRow * height) / 10000)));
  const z = view.strip.marks + 6 + 5;
  const wrong = [];
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const dark = data[(y * width + x) * 4 + 3] > 0;
      if (dark !== (x === z ? held.has(y) : x === 0 && bounds.has(y))) wrong.push(x + "," + y);
    }
  }
  const problems = wrong.length ? ["the strip is wrong at " + wrong.slice(0, 8).join(" ") + " of " + width + "x" + height]
                                : [];
  const place = {clientX: canvas.getBoundingClientRect().left + 5, clientY: 350, bubbles: true};
  canvas.dispatchEvent(new PointerEvent("pointermove", place));
  canvas.dispatchEvent(new PointerEvent("pointerdown", place));
  canvas.dispatchEvent(new PointerEvent("pointerup", place));
  const row = Math.floor((350 * 10000) / height);
  const block = view.demo.blockOfRow(row);
  const title = "Block " + (block + 1) + ", row " + (row - view.demo.blocks[block].firstRow + 1) + " (row " + (row + 1) +
                " of the demo)";
  if (canvas.parentNode.title !== title || view.rowAtTop() !== row) {
    problems.push("at y 350 the strip says " + canvas.parentNode.title + " and goes to row " + (view.rowAtTop() + 1) +
                  ", not " + title);
  }
  return problems;
}

// What the view's save link hands back, as base64: the page's own click
// listener runs, without the download. Read at once, so that the checking
// page's load event waits for it.
function saved(doc) {
  const save = doc.getElementById("save");
  save.dispatchEvent(new Event("click"));
  if (!save.href.startsWith("blob:")) return null;
  const request = new XMLHttpRequest();
  request.open("GET", save.href, false);
  request.overrideMimeType("text/plain; charset=x-user-defined");
  request.send();
  let binary = "";
  const text = request.responseText;
  for (let i = 0; i < text.length; i++) binary += String.fromCharCode(text.charCodeAt(i) & 0xff);
  return btoa(binary);
}

// A view opened at an address, [page#address, the row it names, from 0]:
// it opens at that row, marked and in the window; a changed address goes
// to its row; a move replaces the address once the view rests.
const addresses = @ADDRESSES@;
const rest = (window, milliseconds) => new Promise(done => window.setTimeout(done, milliseconds));
function markedProblems(frame, address, row) {
  const view = frame.contentWindow.demoView;
  const marked = frame.contentDocument.querySelector("#rows > .marked");
  const head = frame.contentDocument.getElementById("head").getBoundingClientRect();
  const box = marked && marked.getBoundingClientRect();
  const seen = marked && marked.children[1].textContent === String(row + 1) && box.top >= head.bottom - 1 &&
               box.bottom <= frame.contentWindow.innerHeight;
  return view.markedRow() === row && seen ? [] : [address + ": row " + (view.markedRow() + 1) + " marked, " +
                                                  (marked ? marked.children[1].textContent : "none") + " shown, not " +
                                                  (row + 1)];
}
async function inspectAddress(name, frame) {
  const window = frame.contentWindow;
  // Past the view's rest, so the address it writes back is in before a new one.
  await rest(window, 600);
  const problems = markedProblems(frame, name, addresses[name]);
  const view = window.demoView;
  window.location.hash = "#block=2&row=5";
  for (let waited = 0; waited < 2000 && view.markedRow() !== 259; waited += 50) await rest(window, 50);
  // Both demos' first block has 255 rows.
  problems.push(...markedProblems(frame, name + " then #block=2&row=5", 259));
  view.goToLine(3);
  await rest(window, 900);
  if (window.location.hash !== "#row=" + (view.rowAtTop() + 1)) {
    problems.push(name + ": after a move the address is " + window.location.hash + ", row " + (view.rowAtTop() + 1) +
                  " at the top");
  }
  return {name: name, problems: problems};
}

@LOAD_FUNCTION@
@REPORT_FUNCTION@
// Finds from the top of the demo, next, next and previous, through the
// page's find box and keys: each the [row, controller] found, or null for
// "not found", as the test's own scan of the demo's bytes has them.
const finds = @FINDS@;
function findProblems(name, frame) {
  const doc = frame.contentDocument;
  const view = frame.contentWindow.demoView.view;
  const problems = [];
  for (const c of finds[name] || []) {
    view.goToLine(0);
    view.found = null;
    for (const [id, value] of Object.entries(c.set)) doc.getElementById(id).value = value;
    const got = [];
    for (const key of ["f", "f", "F"]) {
      doc.dispatchEvent(new KeyboardEvent("keydown", {key: key, bubbles: true}));
      const none = doc.getElementById("find-said").textContent === "not found";
      got.push(none ? null : [view.found.row, view.found.cell]);
      if (!none && !doc.querySelector("#rows u.found")) problems.push(JSON.stringify(c.set) + ": no cell marked");
    }
    if (JSON.stringify(got) !== JSON.stringify(c.found)) {
      problems.push("find " + JSON.stringify(c.set) + " gives " + JSON.stringify(got) + ", not " + JSON.stringify(c.found));
    }
  }
  return problems;
}

// The strip's demo compared with one that differs in known entries, a
// header field and its length: the counts, the first difference, the
// marked lanes and fields, with and without a shift; d and D; a demo named
// as markup, dropped; a file cut inside its header.
const comparing = @COMPARE@;
async function compareProblems(frame) {
  const doc = frame.contentDocument;
  const view = frame.contentWindow.demoView.view;
  const other = Uint8Array.from(atob(comparing.other), c => c.charCodeAt(0));
  const files = new frame.contentWindow.DataTransfer();
  files.items.add(new frame.contentWindow.File([other], "other.demo"));
  const chooser = doc.getElementById("compare-file");
  chooser.files = files.files;
  chooser.dispatchEvent(new Event("change"));
  for (let waited = 0; waited < 3000 && !view.compared; waited += 50) await rest(frame.contentWindow, 50);
  const problems = [];
  for (const c of comparing.cases) {
    doc.getElementById("compare-shift").value = c.shift;
    doc.getElementById("compare-shift").dispatchEvent(new Event("change"));
    const found = view.compared || {};
    const marks = {};
    for (let row = 0; row < view.demo.rowCount; row++) if (view.marks.differ(row, 0)) marks[row] = view.marks.differ(row, 0);
    const fields = [...doc.querySelectorAll("#summary .differs")].map(e => e.previousElementSibling.textContent);
    const got = {shift: c.shift, count: found.count, onlyOther: found.onlyOther, first: found.first, marks: marks,
                 fields: fields, bar: view.barNote(1), shown: doc.querySelectorAll("#rows u.diff").length > 0};
    const wanted = Object.assign({}, c, {shown: true});
    if (JSON.stringify(got) !== JSON.stringify(wanted)) {
      problems.push("compare gives " + JSON.stringify(got) + ", not " + JSON.stringify(wanted));
    }
  }
  view.goToLine(0);
  const stops = [];
  for (const key of ["d", "d", "D"]) {
    doc.dispatchEvent(new KeyboardEvent("keydown", {key: key, bubbles: true}));
    stops.push(view.rowAtTop());
  }
  if (JSON.stringify(stops) !== JSON.stringify(comparing.stops)) problems.push("d d D stop at " + stops);
  const before = view.compared;
  view.compareWith(new Uint8Array(100), "cut.demo");
  const cut = doc.getElementById("compare-said").textContent;
  if (!cut.startsWith("cut.demo is not a demo") || view.compared !== before) problems.push("a cut demo: " + cut);
  for (const name of comparing.names) {
    const dropped = new frame.contentWindow.DataTransfer();
    dropped.items.add(new frame.contentWindow.File([other], name));
    doc.body.dispatchEvent(new DragEvent("drop", {dataTransfer: dropped, bubbles: true, cancelable: true}));
    for (let waited = 0; waited < 3000 && !doc.getElementById("compare-said").textContent.includes(name);
         waited += 50) await rest(frame.contentWindow, 50);
    if (!doc.getElementById("compare-said").textContent.includes(" with " + name) || doc.querySelector("body svg, body img")) {
      problems.push("a dropped demo named " + name + " shows as " + doc.getElementById("compare-said").textContent);
    }
  }
  return problems;
}

const inspectLines = inspect;
inspect = (name, frame) => {
  const result = inspectLines(name, frame);
  result.problems.push(...findProblems(name, frame));
  if (name !== "strip.view.htm") return result;
  return stripProblems(frame).then(async problems => Object.assign(result, {
    problems: result.problems.concat(problems, await compareProblems(frame))}));
};
views.reduce((done, name) => done.then(all => load(name, 1600).then(one => all.concat([one]))), Promise.resolve([]))
  .then(all => {
    inspect = inspectAddress;
    return Object.keys(addresses).reduce((done, name) => done.then(some => load(name, 1600).then(
      one => some.concat([one]))), Promise.resolve(all));
  })
  .then(report)
  .catch(error => report({error: String(error)}));
</script></body></html>
"""

# The demos whose views are checked against their reports: the example, a
# long generated one, and shapes of the builder (cut ones, 254 and 255
# controllers, every value of every byte of an entry, ...).
VIEW_SHAPES = ["worked_example", "no_blocks", "empty_block", "odd_rows", "one_controller", "no_controllers",
               "sixteen_blocks", "max_controllers", "too_many_controllers", "ends_inside_row",
               "ends_inside_header", "every_icon", "every_byte"]
# Views opened at an address, and the row (from 0) it names: the long demo
# has 5,000 rows in blocks of 255.
ADDRESSES = {"long.view.htm#row=3000": 2999, "long.view.htm#block=3&row=7": 516, "long.view.htm#row=999999": 4999,
             "example.view.htm#block=0&row=-5": 0, "long.view.htm#block=20&row=900": 4999}
XSS_NAMES = ["<svg onload=alert(1)>.demo", "<img src=x onerror=alert(1)>.demo"]
DEMO_NAMES = {}  # a view page -> the file name of its demo, as it must show
LONG_DEMO = ["20000", "4", "255", "7"]  # make_demo ENTRIES CONTROLLERS ROWS_PER_BLOCK SEED


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
                if self.path == "/wait":
                    deadline = time.monotonic() + 100
                    while not posted and time.monotonic() < deadline:
                        time.sleep(0.05)
                    self.send_response(204)
                    self.end_headers()
                    return
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
    demos = {"example.htm": args.example, "every_icon.htm": os.path.join(shapes, "every_icon.demo"),
             "every_byte.htm": os.path.join(shapes, "every_byte.demo")}
    for report, demo in demos.items():
        done = subprocess.run([args.demo2html, demo, os.path.join(site, report)], stdin=subprocess.DEVNULL,
                              capture_output=True, text=True)
        notes_only = all(line.startswith("demo2html: note: ") for line in done.stderr.splitlines())
        if done.returncode != 0 or not notes_only:
            raise RuntimeError("demo2html %s failed (%d): %s" % (demo, done.returncode, done.stderr))
    write_views(args, site, shapes)
    for name in os.listdir(args.res):
        with open(os.path.join(args.res, name), "rb") as shipped, open(os.path.join(site, "res", name), "rb") as got:
            if shipped.read() != got.read():
                raise RuntimeError("res/%s beside the reports is not the project's" % name)


def view_demos(args, shapes):
    """The demos whose views are checked, by the name of their pages; two
    named as markup that would run a script."""
    demos = {"example": args.example, "long": os.path.join(shapes, "long.demo")}
    demos["strip"] = os.path.join(shapes, "strip.demo")
    with open(demos["strip"], "wb") as demo:
        demo.write(strip_demo())
    for page, demo in zip(["svg_named", "img_named"], XSS_NAMES):
        demos[page] = os.path.join(shapes, demo)
        shutil.copyfile(args.example, demos[page])
    demos.update({name: os.path.join(shapes, name + ".demo") for name in VIEW_SHAPES})
    return demos


def write_views(args, site, shapes):
    """Writes each demo's view and its report into views/ under the site."""
    subprocess.run([args.make_demo, os.path.join(shapes, "long.demo")] + LONG_DEMO, check=True)
    folder = os.path.join(site, "views")
    os.makedirs(folder)
    for name, demo in view_demos(args, shapes).items():
        DEMO_NAMES[name + ".view.htm"] = os.path.basename(demo)
        for command in (["--view", demo, os.path.join(folder, name + ".view.htm")],
                        [demo, os.path.join(folder, name + ".htm")]):
            done = subprocess.run([args.demo2html] + command, stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True)
            if done.returncode not in (0, 3):  # 3: written, from a demo cut short
                raise RuntimeError("demo2html %s failed (%d): %s" % (" ".join(command), done.returncode,
                                                                     done.stderr))
        with open(demo, "rb") as original:
            if demo_bytes_in(os.path.join(folder, name + ".view.htm")) != original.read():
                raise RuntimeError("the view of %s does not hold the demo's bytes" % demo)
        check_table(args, demo, os.path.join(folder, name))


def check_table(args, demo, base):
    """The demo's table (--csv), read back with Python's csv, holds its
    report's cells in their order, and counts its rows as the report does."""
    done = subprocess.run([args.demo2html, "--csv", demo, base + ".csv"], stdin=subprocess.DEVNULL,
                          capture_output=True)
    if done.returncode not in (0, 3):  # 3: written, from a demo cut short
        raise RuntimeError("demo2html --csv %s failed (%d): %s" % (demo, done.returncode, done.stderr))
    with open(base + ".htm", encoding="utf-8") as page:
        says = report_says(page.read())
    if int(re.search(r"Controllers: (-?\d+)", says["summary"]).group(1)) > 254:
        return  # the report leaves its tables out
    blocks = says["blocks"]
    cells = [(b + 1, r + 1, c + 1, cell) for b, block in enumerate(blocks) for r, row in enumerate(block["rows"])
             for c, cell in enumerate(row[1])]
    with open(base + ".csv", newline="", encoding="ascii") as table:
        lines = list(csv.DictReader(table))

    def as_cell(line):
        x, y = int(line["stick_x"]), int(line["stick_y"])
        held = ",".join(sorted(column for column in list(line)[6:] if line[column] == "1"))
        cell = "%s %3d%%|%s %3d%%|%s" % ("SLT" if x < 0 else "SRT", abs(x), "SDN" if y < 0 else "SUP", abs(y), held)
        return (int(line["block"]), int(line["row"]), int(line["controller"]), cell)

    if [as_cell(line) for line in lines] != cells:
        raise RuntimeError("the table of %s does not hold its report's cells" % demo)
    rows_across = [int(line["demo_row"]) for line in lines if line["controller"] == "1"]
    if rows_across != list(range(1, len(rows_across) + 1)):
        raise RuntimeError("the table of %s does not count its rows across the demo" % demo)


def demo_bytes_in(view):
    """The demo's bytes that a view page carries, or None."""
    with open(view, "rb") as page:
        found = re.search(rb'<script type="application/octet-stream" id="demo">([A-Za-z0-9+/=]*)</script>',
                          page.read())
    return base64.b64decode(found.group(1)) if found else None


def demo_rows(path):
    """Each row of a demo's command blocks, as its entries of 4 bytes."""
    with open(path, "rb") as demo:
        data = demo.read()
    controllers = int.from_bytes(data[24:28], "big")
    rows, at = [], 232
    while at + 4 <= len(data) and data[at:at + 4] != bytes(4):
        count = data[at + 1]
        block = data[at + 4:at + 4 + count * controllers * 4]
        rows += [[block[r + c * 4:r + c * 4 + 4] for c in range(controllers)]
                 for r in range(0, len(block), controllers * 4)]
        at += 4 + count * controllers * 4
    return rows


def scan(rows, test, step, start):
    """The next (step 1) or previous (-1) [row, controller] after `start`
    whose entry passes `test(row, controller)`, or None."""
    order = [[r, c] for r in range(len(rows)) for c in range(len(rows[r]))]
    at = order.index(start) if start in order else (-1 if step > 0 else len(order))
    at += step
    while 0 <= at < len(order):
        if test(*order[at]):
            return order[at]
        at += step
    return None


def find_cases(shapes):
    """What the find box must find in the long demo and the strip's demo,
    by the test's own scan of their bytes."""
    def held(rows, bit):
        return lambda r, c: r >= 0 and c < len(rows[r]) and (int.from_bytes(rows[r][c][2:4], "big") >> bit) & 1
    cases = {}
    for page, demo, asked in (
            ("long.view.htm", "long.demo", [(11, "pressed", 1, None), (11, "released", -1, None),
                                           (12, "held", 2, None), (16, None, -1, 100), (14, "pressed", -1, None)]),
            ("strip.view.htm", "strip.demo", [(13, "pressed", -1, None), (11, "pressed", 0, None)])):
        rows = demo_rows(os.path.join(shapes, demo))
        cases[page] = []
        for what, event, controller, strength in asked:
            if strength is not None:
                def test(r, c):
                    return min(rows[r][c][0], 256 - rows[r][c][0]) >= strength
            else:
                bit = (8 + what) if what < 6 else (what - 6) if what < 14 else 14 + (what - 14)
                now, before = held(rows, bit), held(rows, bit)
                def test(r, c, now=now, before=before, event=event):
                    if event == "held":
                        return bool(now(r, c))
                    pressed = event == "pressed"
                    return bool(now(r, c)) == pressed and bool(before(r - 1, c)) != pressed
            def chosen(r, c, test=test, controller=controller):
                return (controller < 0 or c == controller) and test(r, c)
            found, last = [], None
            for step in (1, 1, -1):
                got = scan(rows, chosen, step, last or [0, -1] if step > 0 else last or [0, 0])
                found.append(got)
                last = got or last
            settings = {"find-what": what, "find-controller": controller}
            settings.update({"find-strength": strength} if strength is not None else {"find-event": event})
            cases[page].append({"set": settings, "found": found})
    return cases


def compare_cases():
    """The strip's demo's other: row 300's LT (lane 8) and row 700's stick
    X (lane 0) differ, its time word, and 10 rows more. What a comparison
    must find, unshifted and shifted by a row (then Z's run ends differ,
    rows 99 and 199, and the changes show a row earlier)."""
    other = bytearray(strip_demo()[:-4])
    entry = lambda row: 232 + 4 * (row // 255 + 1) + 4 * row
    other[entry(300) + 3] ^= 0x01
    other[entry(700)] = 50
    other[127] += 1
    other += bytes([0, 10, 0, 0]) + bytes(40) + bytes(4)
    unshifted = {"shift": 0, "count": 2, "onlyOther": 10, "first": 300, "marks": {"300": 256, "700": 1},
                 "fields": ["Time:"], "bar": '<span class="differ">1 rows differ</span>'}
    shifted = {"shift": 1, "count": 4, "onlyOther": 10, "first": 99, "marks": {"99": 8192, "199": 8192, "299": 256,
                                                                               "699": 1},
               "fields": ["Time:"], "bar": '<span class="differ">1 rows differ</span>'}
    return {"other": base64.b64encode(bytes(other)).decode(), "cases": [unshifted, shifted], "stops": [99, 199, 99],
            "names": XSS_NAMES}


# For the pictures of a find and of a comparison: the example's view, with
# its policy taken out and a script at its end that drives it, as a user
# would (Z pressed by controller 2; the example against a copy of itself
# with a few entries and the time changed). Both land near the demo's start, and
# the page is shown from its top.
DRIVE_FIND = """<script>
document.getElementById("find-what").value = "11";
document.getElementById("find-controller").value = "1";
window.demoView.view.find(1);
scrollTo(0, 0);
</script>"""
DRIVE_COMPARE = """<script>
const other = Uint8Array.from(atob("@OTHER@"), c => c.charCodeAt(0));
window.demoView.view.compareWith(other, "example-again.demo");
scrollTo(0, 0);
</script>"""


def driven_views(args):
    """The pages of the find's and the comparison's pictures, as file: URLs."""
    folder = os.path.join(args.work, "site", "views")
    with open(os.path.join(folder, "example.view.htm"), "rb") as view:
        page = re.sub(rb'<meta http-equiv="Content-Security-Policy"[^>]*>', b"", view.read(), count=1)
    with open(args.example, "rb") as demo:
        other = bytearray(demo.read())
    other[127] ^= 0x04
    for row, byte, value in ((3, 3, 0x20), (4, 0, 0x30), (9, 2, 0x01), (10, 7, 0x80)):
        other[236 + row * 8 + byte] ^= value
    drives = {"view-find": DRIVE_FIND,
              "view-compare": DRIVE_COMPARE.replace("@OTHER@", base64.b64encode(bytes(other)).decode())}
    pages = {}
    for shot, drive in drives.items():
        path = os.path.join(folder, shot + ".html")
        with open(path, "wb") as driven:
            driven.write(page.replace(b"</body>", drive.encode() + b"</body>"))
        pages[shot] = "file://" + os.path.abspath(path)
    return pages


def strip_demo():
    """A demo of one controller and 10,000 rows in blocks of 255 whose Z
    (bit 5 of the entry's last byte) is held in rows 100 to 199, from 0."""
    header = bytearray(232)
    header[24:28] = (1).to_bytes(4, "big")
    body = bytearray()
    for first in range(0, 10000, 255):
        rows = min(255, 10000 - first)
        body += bytes([0, rows, 0, 0])
        for row in range(first, first + rows):
            body += bytes([0, 0, 0, 0x20 if 100 <= row < 200 else 0])
    return bytes(header + body + bytes(4))


def report_says(report):
    """What a report shows, parsed from its HTML: the summary's text, the
    closing line's text, and per block its header word, its size and its
    rows, each row its stripe and its cells as the view check writes them."""
    summary = re.search(r"<H1>.*?</P>", report, re.S).group(0)
    closing = re.search(r"<P><B>Final Count.*?</I>", report, re.S).group(0)
    blocks = []
    for table in re.findall(r"<TABLE CELLSPACING=\"0\">(.*?)\n</TABLE>", report, re.S):
        header = re.match(r"<B>([0-9A-F]{8} )</B><I>(Size: \d+)</I>", table)
        rows = []
        for stripe, row in re.findall(r'<TR( class="switch")?>((?:<TD>.*?</TD>)+)</TR>', table):
            cells = []
            for content in re.findall(r"<TD>(.*?)</TD>", row):
                stick = re.match(r'<IMG SRC="res/(\w+)\.png"></IMG> ( *\d+%) <IMG SRC="res/(\w+)\.png"></IMG> '
                                 r"( *\d+%) (.*)$", content)
                buttons = sorted(re.findall(r'res/(\w+)\.png|(reserved\d) ', stick.group(5)))
                names = sorted(image or text for image, text in buttons)
                cells.append("%s %s|%s %s|%s" % (stick.group(1), stick.group(2), stick.group(3), stick.group(4),
                                                 ",".join(names)))
            rows.append([bool(stripe), cells])
        blocks.append({"word": header.group(1), "size": header.group(2), "rows": rows})
    return {"summary": text_of(summary), "closing": text_of(closing), "blocks": blocks}


def text_of(markup):
    """The text of a piece of HTML, its white space made single spaces."""
    return " ".join(html.unescape(re.sub(r"<[^>]*>", "", markup)).split())


def view_problems(results, folder, engine):
    """How the views' lines differ from what their reports show."""
    if not isinstance(results, list):
        return ["%s: the view check failed: %s" % (engine, results)]
    problems = []
    if len(results) != len(DEMO_NAMES) + len(ADDRESSES):
        problems.append("%s: %d pages checked, not %d" % (engine, len(results), len(DEMO_NAMES) + len(ADDRESSES)))
    for result in results:
        name = "%s %s" % (engine, result["name"])
        problems += ["%s: %s" % (name, p) for p in result["problems"]]
        if result["problems"] or "#" in result["name"]:
            continue
        with open(os.path.join(folder, result["name"].replace(".view.htm", ".htm")), encoding="utf-8") as report:
            said = report_says(report.read())
        if text_of(result["summary"]) != said["summary"]:
            problems.append("%s: the summary says %r, the report %r" % (name, result["summary"], said["summary"]))
        if " ".join(result["closing"].split()) != said["closing"]:
            problems.append("%s: the closing line says %r, the report %r" % (name, result["closing"],
                                                                              said["closing"]))
        if len(result["blocks"]) != len(said["blocks"]):
            problems.append("%s: %d blocks, the report %d" % (name, len(result["blocks"]), len(said["blocks"])))
        cells = 0
        for number, (shown, table) in enumerate(zip(result["blocks"], said["blocks"]), 1):
            if (shown["word"], shown["size"]) != (table["word"], table["size"]):
                problems.append("%s: block %d shows %s %s, the report %s %s" % (
                    name, number, shown["word"], shown["size"], table["word"], table["size"]))
            if len(shown["rows"]) != len(table["rows"]):
                problems.append("%s: block %d has %d rows, the report %d" % (name, number, len(shown["rows"]),
                                                                             len(table["rows"])))
            for row, (view_row, report_row) in enumerate(zip(shown["rows"], table["rows"]), 1):
                cells += len(report_row[1])
                if view_row != report_row:
                    problems.append("%s: block %d row %d shows %s, the report %s" % (name, number, row, view_row,
                                                                                     report_row))
        if result["width"] > 1600 and result["lanes"] == 4:
            problems.append("%s: four controllers take %d pixels, more than 1600" % (name, result["width"]))
        if result["saved"] is None or base64.b64decode(result["saved"]) != demo_bytes_in(
                os.path.join(folder, result["name"])):
            problems.append(name + ": the save link does not hand the demo back")
        given = DEMO_NAMES.get(result["name"])
        if (result["demoName"], result["savedAs"], result["markup"]) != (given, given, 0):
            problems.append("%s: the demo's name shows as %r, saves as %r, %d elements of markup; given %r" % (
                name, result["demoName"], result["savedAs"], result["markup"], given))
        if result["shown"] > 200:
            problems.append("%s: %d lines in the page at once, of %d" % (name, result["shown"], result["lines"]))
        result["cells"] = cells
    return problems[:40]


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

def run_firefox(firefox, work, url, shot, dark, window=WINDOW):
    """Runs Firefox once, in a new profile, saving a screenshot of URL."""
    profile = tempfile.mkdtemp(prefix="firefox-", dir=work)
    with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as prefs:
        prefs.write('user_pref("layout.css.prefers-color-scheme.content-override", %d);\n' % (0 if dark else 1))
        prefs.write('user_pref("ui.systemUsesDarkTheme", %d);\n' % (1 if dark else 0))
    command = [firefox, "--headless", "-profile", profile, "--window-size", window, "--screenshot", shot, url]
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


def check_firefox_views(firefox, args, server, example_view):
    """The view check in Firefox, and screenshots of the example's view from
    a file: URL and of its report, light."""
    del server.posted[:]
    work = args.work
    run_firefox(firefox, work, server.url + "views/check.html?post", os.path.join(work, "firefox-views.png"), False)
    verdict = server.posted[0] if server.posted else "no verdict"
    problems = view_problems(verdict, os.path.join(work, "site", "views"), "Firefox")
    run_firefox(firefox, work, example_view, os.path.join(args.screenshots, "view-firefox.png"), False,
                "1600,900")
    for shot, page in driven_views(args).items():
        run_firefox(firefox, work, page, os.path.join(args.screenshots, shot + "-firefox.png"), False, "1600,900")
    run_firefox(firefox, work, server.url + "example.htm", os.path.join(args.screenshots, "report-firefox.png"),
                False)
    return problems


def icon_data(args):
    """The base64 of each icon the project ships, and the icon's name."""
    data = {}
    for name in ICONS:
        with open(os.path.join(args.res, name + ".png"), "rb") as icon:
            data[base64.b64encode(icon.read()).decode()] = name
    return data


def check(args, chromium):
    if os.path.exists(args.work):
        shutil.rmtree(args.work)
    site = os.path.join(args.work, "site")
    os.makedirs(site)
    write_reports(args, site)
    with open(os.path.join(site, "check.html"), "w", encoding="utf-8") as page:
        page.write(CHECK_PAGE.replace("@REPORTS@", json.dumps(REPORTS)).replace("@ICONS@", json.dumps(ICONS))
                   .replace("@LOAD_FUNCTION@", LOAD_FUNCTION).replace("@REPORT_FUNCTION@", REPORT_FUNCTION))

    views = sorted(name for name in os.listdir(os.path.join(site, "views")) if name.endswith(".view.htm"))
    with open(os.path.join(site, "views", "check.html"), "w", encoding="utf-8") as page:
        page.write(VIEW_CHECK_PAGE.replace("@VIEWS@", json.dumps(views))
                   .replace("@ICON_DATA@", json.dumps(icon_data(args))).replace("@ADDRESSES@", json.dumps(ADDRESSES))
                   .replace("@FINDS@", json.dumps(find_cases(os.path.join(site, "..", "shapes"))))
                   .replace("@COMPARE@", json.dumps(compare_cases())).replace("@LOAD_FUNCTION@", LOAD_FUNCTION)
                   .replace("@REPORT_FUNCTION@", REPORT_FUNCTION))

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
        # The views' checks wait for the strip and for the address to follow a move.
        view_verdict = verdict_of(run_chromium(chromium, args.work, ["--virtual-time-budget=40000", "--dump-dom"],
                                               server.url + "views/check.html"))
        example_view = "file://" + os.path.abspath(os.path.join(site, "views", "example.view.htm"))
        for shot, page in driven_views(args).items():
            run_chromium(chromium, args.work, ["--window-size=1600,900", "--virtual-time-budget=3000",
                                               "--screenshot=" + os.path.join(args.screenshots, shot + ".png")], page)
        for scheme, flags in (("view.png", []), ("view-dark.png", ["--force-dark-mode"])):
            shot = os.path.join(args.screenshots, scheme)
            run_chromium(chromium, args.work, flags + ["--window-size=1600,900", "--screenshot=" + shot],
                         example_view)
            if not os.path.getsize(shot):
                raise RuntimeError("no screenshot in " + shot)
        firefox = shutil.which("firefox-esr") or shutil.which("firefox")
        firefox_problems = check_firefox(firefox, args.work, server) if firefox else []
        if firefox:
            firefox_problems += check_firefox_views(firefox, args, server, example_view)
        answers = list(server.answers)

    if not firefox:
        print("no firefox on PATH: the report is checked in Chromium only")
    problems = firefox_problems + problems_in(light, "light") + problems_in(dark, "dark")
    problems += view_problems(view_verdict, os.path.join(site, "views"), "Chromium")
    for result in view_verdict if isinstance(view_verdict, list) else []:
        print("%s: %d blocks, %d cells as the report's, %d lines, %d in the page, lanes %d px wide" % (
            result["name"], len(result.get("blocks", [])), result.get("cells", 0), result.get("lines", 0),
            result.get("shown", 0), result.get("width", 0)))
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
