// The script of a demo2html view page. It reads the demo's bytes, which the
// page carries as base64 in <script id="demo">, walks its command blocks as
// the report does, and shows them line by line: a bar per block, then its
// rows. Only the lines in the window, and a margin, exist in the page at
// any time, so the page costs the same whatever the demo's length.
//
// window.demoView lets a test read what the page shows without scrolling:
// the blocks, and the element of any line built by the same code that the
// window shows.
"use strict";
(function () {
  const LINE = 24; // pixels per line; the stylesheet's --line
  const MARGIN = 8; // lines kept beyond each edge of the window
  // Browsers cap an element's height (Firefox near 17.8 million pixels):
  // above this, the sheet is shorter than its lines and scrolls through
  // them in proportion.
  const MAX_HEIGHT = 15000000;

  // The demo's layout.
  const HEADER_SIZE = 232;
  const CONTROLLERS_OFFSET = 24;
  const WORD = 4;
  const MAX_TABLE_CONTROLLERS = 254;

  // What each byte of an input entry shows, as the report shows it.
  const STICK_X = ["SRT", "SLT"]; // by whether the value is negative
  const STICK_Y = ["SUP", "SDN"];
  const C_BUTTONS = ["CLT", "CRT", "CDN", "CUP", "R", "L"]; // byte 2, bit 0 first
  const RESERVED = ["reserved1 ", "reserved2 "]; // byte 2, bits 6 and 7
  const MAIN_BUTTONS = ["LT", "RT", "DN", "UP", "S", "Z", "B", "A"]; // byte 3, bit 0 first

  // ------------------------------------------------------------ the bytes

  function decode(text) {
    if (typeof Uint8Array.fromBase64 === "function") return Uint8Array.fromBase64(text);
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  }

  const source = document.getElementById("demo");
  const bytes = decode(source.textContent);
  source.textContent = "";

  // A header byte beyond the end of a short demo reads as 0xFF, as in the
  // report.
  const headerByte = offset => (offset < bytes.length ? bytes[offset] : 0xff);
  const headerWord = offset =>
    ((headerByte(offset) << 24) | (headerByte(offset + 1) << 16) | (headerByte(offset + 2) << 8) |
     headerByte(offset + 3)) >>> 0;
  const word = offset =>
    ((bytes[offset] << 24) | (bytes[offset + 1] << 16) | (bytes[offset + 2] << 8) | bytes[offset + 3]) >>> 0;

  const controllers = headerWord(CONTROLLERS_OFFSET);
  const tablesLeftOut = controllers > MAX_TABLE_CONTROLLERS;

  // ------------------------------------------------------------ the walk

  // Every block: where its header word lies, the word, the rows it
  // announces, the entries the demo holds of it, the rows shown, its first
  // line and the number across the demo of its first row.
  const blocks = [];
  const walk = {endedEarly: false, endOffset: 0};

  function walkBlocks() {
    if (bytes.length < HEADER_SIZE) {
      walk.endedEarly = true;
      walk.endOffset = bytes.length;
      return;
    }
    if (tablesLeftOut) return;
    let at = HEADER_SIZE;
    let line = 0;
    let rowsBefore = 0;
    for (;;) {
      if (at + WORD > bytes.length) {
        walk.endedEarly = true;
        walk.endOffset = at;
        return;
      }
      const header = word(at);
      if (header === 0) return;
      const rows = bytes[at + 1];
      const announced = rows * controllers;
      const entries = Math.min(announced, Math.floor((bytes.length - at - WORD) / WORD));
      const shown = controllers === 0 ? 0 : Math.ceil(entries / controllers);
      blocks.push({offset: at, word: header, rows: rows, entries: entries, shown: shown, line: line,
                   firstRow: rowsBefore});
      line += 1 + shown;
      rowsBefore += shown;
      if (entries < announced) {
        walk.endedEarly = true;
        walk.endOffset = at + WORD + entries * WORD;
        return;
      }
      at += WORD + announced * WORD;
    }
  }
  walkBlocks();
  const lastBlock = blocks[blocks.length - 1];
  const lineCount = lastBlock ? lastBlock.line + 1 + lastBlock.shown : 0;
  const rowCount = lastBlock ? lastBlock.firstRow + lastBlock.shown : 0;

  // The last block whose `field` (its first line, or the number of its
  // first row) is not above `value`: the block that holds that line or row.
  function lastBlockFrom(field, value) {
    let low = 0;
    let high = blocks.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (blocks[middle][field] <= value) low = middle;
      else high = middle - 1;
    }
    return low;
  }
  const blockOfLine = line => lastBlockFrom("line", line);
  const blockOfRow = row => lastBlockFrom("firstRow", row); // the demo's row, from 0

  // ------------------------------------------------------------ the pieces

  const hex8 = value => value.toString(16).toUpperCase().padStart(8, "0");
  // The report's "%3d%" of a stick byte taken as signed 8-bit.
  const strength = value => String(value).padStart(3, " ") + "%";

  function stickPiece(byte, images, lane) {
    const value = byte < 128 ? byte : byte - 256;
    const negative = value < 0 ? 1 : 0;
    return '<i class="d ' + lane + " i-" + images[negative] + '"></i><b class="m ' + lane + '">' +
           strength(negative ? -value : value) + "</b>";
  }

  function buttonPiece(byte, names) {
    let piece = "";
    for (let bit = 0; bit < names.length; bit++) {
      if (byte & (1 << bit)) piece += '<i class="k i-' + names[bit] + '"></i>';
    }
    return piece;
  }

  function reservedPiece(byte) {
    let piece = "";
    for (let bit = 0; bit < RESERVED.length; bit++) {
      if (byte & (1 << (C_BUTTONS.length + bit))) piece += "<u>" + RESERVED[bit] + "</u>";
    }
    return piece ? '<s class="r">' + piece + "</s>" : "";
  }

  // Each piece of a cell depends on one byte of the entry: built once for
  // all 256 values of each.
  const pieces = {x: [], y: [], c: [], main: []};
  for (let byte = 0; byte < 256; byte++) {
    pieces.x.push('<span class="c">' + stickPiece(byte, STICK_X, "x"));
    pieces.y.push(stickPiece(byte, STICK_Y, "y"));
    pieces.c.push(buttonPiece(byte, C_BUTTONS) + reservedPiece(byte));
    pieces.main.push(buttonPiece(byte, MAIN_BUTTONS) + "</span>");
  }

  function cellHtml(offset) {
    return pieces.x[bytes[offset]] + pieces.y[bytes[offset + 1]] + pieces.c[bytes[offset + 2]] +
           pieces.main[bytes[offset + 3]];
  }

  function barHtml(index, extra) {
    const block = blocks[index];
    return '<div class="bar"' + extra + ">Block " + (index + 1) + '<span class="w">' + hex8(block.word) +
           ' </span><span class="s">Size: ' + block.rows + "</span></div>";
  }

  // A row's stripe follows the report: counted from the end of its block
  // (the last announced row is row 1), the even rows are striped.
  function rowHtml(index, row, extra) {
    const block = blocks[index];
    const striped = (block.rows - row) % 2 === 0;
    let html = '<div class="row' + (striped ? " switch" : "") + '"' + extra + '><span class="n">' + (row + 1) +
               '</span><span class="n">' + (block.firstRow + row + 1) + "</span>";
    const first = row * controllers;
    const end = Math.min(first + controllers, block.entries);
    for (let entry = first; entry < end; entry++) html += cellHtml(block.offset + WORD + entry * WORD);
    return html + "</div>";
  }

  function lineHtml(line, extra) {
    const index = blockOfLine(line);
    const row = line - blocks[index].line - 1;
    return row < 0 ? barHtml(index, extra) : rowHtml(index, row, extra);
  }

  function lanesHtml() {
    let html = '<span class="n">row</span><span class="n">in demo</span>';
    const shown = tablesLeftOut ? 0 : controllers;
    let lanes = '<b class="h x">X</b><b class="h y">Y</b>';
    for (const name of C_BUTTONS.concat(MAIN_BUTTONS)) lanes += '<i class="k i-' + name + '" title="' + name + '"></i>';
    lanes += '<s class="r">reserved</s>';
    for (let n = 1; n <= shown; n++) html += '<span class="c"><span class="cn">Controller ' + n + "</span>" + lanes +
                                             "</span>";
    return html;
  }

  // ------------------------------------------------------------ the page

  const sheet = document.createElement("div");
  sheet.id = "sheet";
  sheet.innerHTML = '<div id="head"><div class="bar" id="current"></div><div id="lanes"></div></div>' +
                    '<div id="rows"></div>';
  const rowsBox = sheet.querySelector("#rows");
  const current = sheet.querySelector("#current");
  const head = sheet.querySelector("#head");
  sheet.querySelector("#lanes").innerHTML = lanesHtml();
  sheet.style.setProperty("--controllers", tablesLeftOut ? 0 : controllers);

  const totalHeight = lineCount * LINE;
  const boxHeight = Math.min(totalHeight, MAX_HEIGHT);
  rowsBox.style.height = boxHeight + "px";

  const tools = document.createElement("div");
  tools.id = "tools";
  tools.innerHTML =
    '<form id="go"><label>Block <input id="go-block" type="number" min="1" max="' + blocks.length + '"></label> ' +
    '<label>row <input id="go-row" type="number" min="1" max="' + rowCount + '"></label> ' +
    '<button type="submit">Go</button></form>' +
    "<span>Keys: <kbd>j</kbd> <kbd>k</kbd> next and previous row, <kbd>n</kbd> <kbd>p</kbd> next and previous " +
    "block, <kbd>g</kbd> go to, <kbd>Home</kbd> <kbd>End</kbd></span>" +
    '<a id="save">save the demo</a>';
  const printed = document.createElement("p");
  printed.id = "printed";

  const closing = document.createElement("p");
  closing.id = "closing";
  closing.innerHTML = "<b>Final Count of Command Blocks:</b> <i>" + blocks.length.toString(16).toUpperCase() + "/" +
                      blocks.length + "</i>";
  const notes = document.createElement("div");
  notes.id = "notes";
  notes.innerHTML = notesHtml();

  const summary = document.getElementById("summary");
  summary.after(tools, printed, sheet, closing, notes);
  const title = summary.querySelector("h1");
  if (title) document.title = title.textContent + " (demo2html view)";

  function notesHtml() {
    const notes = [];
    if (tablesLeftOut) {
      notes.push("The demo has " + controllers + " controllers, more than " + MAX_TABLE_CONTROLLERS +
                 "; the block tables are left out.");
    }
    if (bytes.length < HEADER_SIZE) {
      notes.push("The demo ends after " + bytes.length + (bytes.length === 1 ? " byte" : " bytes") +
                 ", inside its header; the missing header bytes are shown as 0xFF.");
    } else if (walk.endedEarly) {
      notes.push("The demo ends early, at offset " + walk.endOffset +
                 ", before the zero word that closes its command blocks; the view shows what it holds.");
    }
    return notes.map(text => "<p>" + text + "</p>").join("");
  }

  // ------------------------------------------------------------ scrolling

  const shownLines = new Map(); // line -> element
  const stats = {renders: 0, total: 0, max: 0};

  // The top of the sheet's rows in the document and the height of its
  // sticky head, measured once and again when the window changes size: a
  // scroll then makes the browser lay out nothing before the new lines are
  // in.
  const layout = {rowsTop: 0, head: 0};
  function measure() {
    layout.rowsTop = rowsBox.getBoundingClientRect().top + scrollY;
    layout.head = head.offsetHeight;
  }
  const rowsTop = () => layout.rowsTop;

  // Where the window's rows begin, below the sticky head: in pixels of the
  // rows' box (the anchor), and in pixels of all lines (its place in the
  // demo). They are the same unless the box is shorter than the lines;
  // then the anchor's whole range maps onto the lines' whole range, so the
  // last lines can be scrolled to as well.
  function anchor() {
    return Math.max(0, scrollY + layout.head - rowsTop());
  }
  function ranges() {
    const visible = Math.max(0, innerHeight - layout.head);
    return {box: Math.max(1, boxHeight - visible), lines: Math.max(0, totalHeight - visible)};
  }
  function placeInDemo(at) {
    if (boxHeight === totalHeight) return at;
    const range = ranges();
    return (Math.min(at, range.box) * range.lines) / range.box;
  }
  function placeInBox(inDemo) {
    if (boxHeight === totalHeight) return inDemo;
    const range = ranges();
    return range.lines > 0 ? (Math.min(inDemo, range.lines) * range.box) / range.lines : 0;
  }

  let placedAt = NaN; // the offset the shown lines were placed with

  // Places and builds the lines in and near the window, drops the others.
  function render() {
    const started = performance.now();
    const at = anchor();
    const inDemo = placeInDemo(at);
    const headLines = Math.ceil(layout.head / LINE);
    const first = Math.max(0, Math.floor(inDemo / LINE) - headLines - MARGIN);
    const last = Math.min(lineCount - 1, Math.floor((inDemo + innerHeight) / LINE) + MARGIN);
    for (const [line, element] of shownLines) {
      if (line < first || line > last) {
        element.remove();
        shownLines.delete(line);
      }
    }
    let html = "";
    const added = [];
    for (let line = first; line <= last; line++) {
      if (!shownLines.has(line)) {
        html += lineHtml(line, ' data-line="' + line + '"');
        added.push(line);
      }
    }
    if (html) {
      rowsBox.insertAdjacentHTML("beforeend", html);
      let element = rowsBox.lastElementChild;
      for (let i = added.length - 1; i >= 0; i--, element = element.previousElementSibling) {
        shownLines.set(added[i], element);
      }
    }
    // Lines move in the box only when it is shorter than the lines;
    // otherwise the new ones alone are placed.
    const offset = at - inDemo;
    const moved = offset !== placedAt;
    placedAt = offset;
    for (const line of moved ? shownLines.keys() : added) {
      shownLines.get(line).style.top = (line * LINE + offset) + "px";
    }
    showCurrentBlock(Math.min(lineCount - 1, Math.floor(inDemo / LINE)));
    const spent = performance.now() - started;
    stats.renders++;
    stats.total += spent;
    stats.max = Math.max(stats.max, spent);
  }

  let currentBlock = -1;
  function showCurrentBlock(line) {
    const index = line >= 0 && blocks.length ? blockOfLine(line) : -1;
    if (index === currentBlock) return;
    currentBlock = index;
    current.innerHTML = index < 0 ? "" : barHtml(index, "").replace(/^<div class="bar">|<\/div>$/g, "");
  }

  // Scrolls so that `line` stands right below the sheet's head.
  function goToLine(line) {
    const clamped = Math.max(0, Math.min(lineCount - 1, line));
    scrollTo(scrollX, Math.ceil(rowsTop() + placeInBox(clamped * LINE) - layout.head));
  }

  // The line at the top of the rows, below the head; a line that a scroll
  // to whole pixels left less than a pixel above it still counts.
  function lineAtTop() {
    return Math.min(lineCount - 1, Math.floor((placeInDemo(anchor()) + 1) / LINE));
  }

  // A block, from 1, and a row: within that block, or with no block across
  // the demo.
  function goTo(block, row) {
    if (!blocks.length) return;
    if (block) {
      const index = Math.max(0, Math.min(blocks.length - 1, block - 1));
      const within = row ? Math.max(0, Math.min(blocks[index].shown, row)) : 0;
      goToLine(blocks[index].line + within);
    } else if (row) {
      const across = Math.max(0, Math.min(rowCount - 1, row - 1));
      const index = blockOfRow(across);
      goToLine(blocks[index].line + 1 + across - blocks[index].firstRow);
    }
  }

  tools.querySelector("#go").addEventListener("submit", event => {
    event.preventDefault();
    goTo(Number(tools.querySelector("#go-block").value) || 0, Number(tools.querySelector("#go-row").value) || 0);
  });

  const keys = {
    j: () => goToLine(lineAtTop() + 1),
    k: () => goToLine(lineAtTop() - 1),
    n: () => blocks.length && goToLine(blocks[Math.min(blocks.length - 1, blockOfLine(lineAtTop()) + 1)].line),
    p: () => {
      if (!blocks.length) return;
      const at = lineAtTop();
      const index = blockOfLine(at);
      goToLine(blocks[blocks[index].line < at ? index : Math.max(0, index - 1)].line);
    },
    g: () => tools.querySelector("#go-block").focus(),
  };
  document.addEventListener("keydown", event => {
    const inBox = event.target.closest && event.target.closest("input, button");
    if (event.ctrlKey || event.altKey || event.metaKey || inBox) return;
    const action = keys[event.key];
    if (action) {
      event.preventDefault();
      action();
    }
  });

  const save = tools.querySelector("#save");
  const pageName = decodeURIComponent(location.pathname.split("/").pop() || "");
  save.download = (pageName.replace(/(\.view)?\.html?$/i, "") || "demo") + ".demo";
  save.href = URL.createObjectURL(new Blob([bytes], {type: "application/octet-stream"}));

  // Print gives the lines in the window and says which.
  addEventListener("beforeprint", () => {
    const lines = [...shownLines.keys()].sort((a, b) => a - b);
    for (const line of lines) rowsBox.appendChild(shownLines.get(line));
    printed.textContent = lines.length ? "Printed: lines " + (lines[0] + 1) + " to " + (lines[lines.length - 1] + 1) +
                                         " of " + lineCount + " (block bars and rows), the lines around the window. " +
                                         "The report shows every row."
                                       : "Printed: the summary; the demo has no rows.";
  });

  addEventListener("scroll", render, {passive: true});
  addEventListener("resize", () => {
    measure();
    render();
  });
  // The summary's fonts may change its height once they are in.
  if (document.fonts) document.fonts.ready.then(() => {
    measure();
    render();
  });
  measure();
  render();

  window.demoView = {
    controllers: controllers,
    tablesLeftOut: tablesLeftOut,
    endedEarly: walk.endedEarly,
    endOffset: walk.endOffset,
    lineCount: lineCount,
    blocks: () => blocks.map(b => ({word: hex8(b.word), rows: b.rows, entries: b.entries, shown: b.shown,
                                    line: b.line})),
    // The element of any line, as the window shows it, not in the page.
    element: line => {
      const holder = document.createElement("div");
      holder.innerHTML = lineHtml(line, "");
      return holder.firstElementChild;
    },
    goTo: goTo,
    goToLine: goToLine,
    stats: stats,
  };
})();
