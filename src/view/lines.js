// The lines in the window.
//
// Contract: builds the page below the summary (the tools, the sheet with
// its sticky head and rows' box, the closing line, the notes) and shows,
// as the window moves, only the lines in it and a margin: a bar per block,
// then its rows. Gives `view`: element(line), a line's element as the
// window shows it; goTo(block, row), goToRow(row), goToLine(line),
// lineAtTop(), rowAtTop(); render(); the keys table (a key -> an action)
// that the other parts add to; tools, the element the other parts put
// their boxes into; afterRender, functions called after every render with
// the row at the top, which must not read the layout; marks, functions (row across the demo,
// from 0, and controller) -> a mask of lanes (bit 0 X, 1 Y, 2 on the
// buttons in the lanes' order, 16 the reserved bits) that are marked in the cell, one function
// for differences (marks.differ) and one for a found cell (marks.found);
// refresh(), which fills every shown line again (view.barNote(block), when
// set, adds to each bar); stats, the script's time
// per scroll.
(function (view) {
  "use strict";
  const demo = view.demo;
  const {blocks, controllers, tablesLeftOut, lineCount, rowCount} = demo;
  const WORD = view.WORD;
  const LINE = 24; // pixels per line; the stylesheet's --line
  const MARGIN = 8; // lines kept beyond each edge of the window
  // Browsers cap an element's height (Firefox near 17.8 million pixels):
  // above this, the sheet is shorter than its lines and scrolls through
  // them in proportion.
  const MAX_HEIGHT = 15000000;

  // What each byte of an input entry shows, as the report shows it.
  const STICK_X = ["SRT", "SLT"]; // by whether the value is negative
  const STICK_Y = ["SUP", "SDN"];
  const C_BUTTONS = ["CLT", "CRT", "CDN", "CUP", "R", "L"]; // byte 2, bit 0 first
  const RESERVED = ["reserved1 ", "reserved2 "]; // byte 2, bits 6 and 7
  const MAIN_BUTTONS = ["LT", "RT", "DN", "UP", "S", "Z", "B", "A"]; // byte 3, bit 0 first
  // The buttons' lanes, from the left of a cell: the C buttons' group, then
  // the main buttons'.
  const LANE_NAMES = C_BUTTONS.concat(MAIN_BUTTONS);
  const LANES_LEFT = 100; // pixels from the cell's left edge
  const LANE_WIDTH = 15;
  const laneLeft = name => LANES_LEFT + LANE_NAMES.indexOf(name) * LANE_WIDTH;
  view.C_BUTTONS = C_BUTTONS;
  view.MAIN_BUTTONS = MAIN_BUTTONS;

  const hex8 = value => value.toString(16).toUpperCase().padStart(8, "0");
  view.hex8 = hex8;
  // The report's "%3d%" of a stick byte taken as signed 8-bit.
  const strength = value => String(value).padStart(3, " ") + "%";

  // What each byte of an entry sets in its cell, for all 256 values: the
  // stick's direction icon (a class) and strength (a text), the class that
  // draws a group of held buttons, the reserved bits' texts.
  function stickClasses(images, lane) {
    return byteValues(byte => "d m " + lane + " i-" + images[byte < 128 ? 0 : 1]);
  }
  function buttonClasses(names, group) {
    return byteValues(byte => "k " + group + " " + group + "-" + (byte & ((1 << names.length) - 1)));
  }
  function byteValues(make) {
    const values = [];
    for (let byte = 0; byte < 256; byte++) values.push(make(byte));
    return values;
  }
  const look = {
    x: stickClasses(STICK_X, "x"),
    y: stickClasses(STICK_Y, "y"),
    strength: byteValues(byte => strength(byte < 128 ? byte : 256 - byte)),
    c: buttonClasses(C_BUTTONS, "kc"),
    main: buttonClasses(MAIN_BUTTONS, "km"),
    reserved: byteValues(byte =>
      RESERVED.filter((text, bit) => byte & (1 << (C_BUTTONS.length + bit))).map(text => "<u>" + text + "</u>")
        .join("")),
  };

  // A line's element keeps its shape, a bar or a row of so many cells, and
  // is filled in again when it shows another line: only what differs is
  // set, so a scroll makes and drops no elements.
  const CELL = '<span class="c"><b class="d m x">0</b><b class="d m y">0</b><i class="k kc"></i>' +
               '<i class="k km"></i><s class="r"></s><em></em></span>';
  const shapes = new Map(); // cells of a row, or -1 for a bar -> an empty element of that shape
  function makeShape(cells) {
    let shape = shapes.get(cells);
    if (!shape) {
      const holder = document.createElement("div");
      holder.innerHTML = cells < 0 ? '<div class="bar"></div>'
                                   : '<div class="row"><span class="n">0</span><a class="n" href="#">0</a>' +
                                     CELL.repeat(cells) + "</div>";
      shape = holder.firstChild;
      shapes.set(cells, shape);
    }
    const element = shape.cloneNode(true);
    element.shape = cells;
    return element;
  }

  // Where a line lies: its block, its row in the block (-1 for the bar) and
  // its shape.
  function lineAt(line) {
    const index = demo.blockOfLine(line);
    const block = blocks[index];
    const row = line - block.line - 1;
    const cells = row < 0 ? -1 : Math.min(controllers, block.entries - row * controllers);
    return {index: index, row: row, cells: cells};
  }

  // A block's own bar is hidden while the head shows it, so that one bar
  // names the block in view.
  function fillBar(element, index) {
    setClass(element, index === currentBlock ? "bar under" : "bar");
    if (element.block === index) return;
    element.block = index;
    element.innerHTML = barText(index);
  }
  function barText(index) {
    const block = blocks[index];
    return "Block " + (index + 1) + '<span class="w">' + hex8(block.word) + ' </span><span class="s">Size: ' +
           block.rows + "</span>" + (view.barNote ? view.barNote(index) : "");
  }

  function setClass(element, name) {
    if (element.className !== name) element.className = name;
  }

  // The marks of the other parts, as lanes drawn over a cell; the same
  // masks give the same markup.
  view.marks = {differ: null, found: null};
  const markups = new Map();
  function markup(differ, found) {
    const key = differ * 131072 + found;
    let html = markups.get(key);
    if (html === undefined) {
      html = laneMarks(differ, "diff") + laneMarks(found, "found");
      markups.set(key, html);
    }
    return html;
  }
  // The lanes a mark can cover: X, Y, the buttons, the reserved bits.
  const LANE_LEFTS = [2, 50].concat(LANE_NAMES.map(laneLeft), [312]);
  const LANE_WIDTHS = [46, 46].concat(LANE_NAMES.map(() => LANE_WIDTH), [38]);
  function laneMarks(mask, kind) {
    let html = "";
    for (let lane = 0; lane < LANE_LEFTS.length; lane++) {
      if (mask & (1 << lane)) {
        html += '<u class="' + kind + '" style="left:' + LANE_LEFTS[lane] + "px;width:" + LANE_WIDTHS[lane] +
                'px"></u>';
      }
    }
    return html;
  }

  // A row's stripe follows the report: counted from the end of its block
  // (the last announced row is row 1), the even rows are striped.
  function fillRow(element, index, row) {
    const block = blocks[index];
    const across = block.firstRow + row;
    setClass(element, ((block.rows - row) % 2 === 0 ? "row switch" : "row") + (across === view.markedRow ? " marked" : ""));
    const parts = element.children;
    parts[0].firstChild.data = row + 1;
    if (parts[1].across !== across) {
      parts[1].across = across;
      parts[1].firstChild.data = across + 1;
      parts[1].href = "#row=" + (across + 1);
    }
    const first = block.offset + WORD + row * controllers * WORD;
    for (let cell = 0; cell < element.shape; cell++) {
      fillCell(parts[2 + cell], first + cell * WORD);
      const differ = view.marks.differ ? view.marks.differ(across, cell) : 0;
      const found = view.marks.found ? view.marks.found(across, cell) : 0;
      const marks = parts[2 + cell].lastChild;
      const html = differ || found ? markup(differ, found) : "";
      if (marks.marked !== html) {
        marks.marked = html;
        marks.innerHTML = html;
      }
    }
  }

  function fillCell(cell, offset) {
    const x = demo.byteAt(offset);
    const y = demo.byteAt(offset + 1);
    const c = demo.byteAt(offset + 2);
    const main = demo.byteAt(offset + 3);
    const entry = (x << 24) | (y << 16) | (c << 8) | main;
    if (cell.entry === entry) return;
    cell.entry = entry;
    const parts = cell.children;
    setClass(parts[0], look.x[x]);
    parts[0].firstChild.data = look.strength[x];
    setClass(parts[1], look.y[y]);
    parts[1].firstChild.data = look.strength[y];
    setClass(parts[2], look.c[c]);
    setClass(parts[3], look.main[main]);
    const reserved = look.reserved[c];
    if (parts[4].innerHTML !== reserved) parts[4].innerHTML = reserved;
  }

  function fillLine(element, where) {
    if (where.row < 0) fillBar(element, where.index);
    else fillRow(element, where.index, where.row);
  }

  // A new element of the line, as the window shows it.
  function lineElement(line) {
    const where = lineAt(line);
    const element = makeShape(where.cells);
    fillLine(element, where);
    return element;
  }

  // The rules that draw each group of held buttons, one per value, with a
  // background layer per held button in its lane. The icons are those of
  // the page's rules .i-NAME, which the program writes with each icon
  // inside: a layer names its image itself, as a var() would not let the
  // browsers share one decoded picture between the cells.
  function iconImages() {
    const images = {};
    for (const sheet of document.styleSheets) {
      for (const rule of sheet.cssRules) {
        if (rule.selectorText && rule.selectorText.startsWith(".i-")) {
          images[rule.selectorText.slice(3)] = rule.style.backgroundImage;
        }
      }
    }
    return images;
  }
  function groupRules(names, group, images) {
    let rules = ".c>." + group + "{left:" + laneLeft(names[0]) + "px;width:" + names.length * LANE_WIDTH + "px}";
    for (let value = 1; value < 1 << names.length; value++) {
      const layers = [];
      const places = [];
      for (let bit = 0; bit < names.length; bit++) {
        if (value & (1 << bit)) {
          layers.push(images[names[bit]]);
          places.push(bit * LANE_WIDTH + "px 50%");
        }
      }
      rules += "." + group + "-" + value + "{background-image:" + layers.join() + ";background-position:" +
               places.join() + "}";
    }
    return rules;
  }
  function laneRules() {
    const images = iconImages();
    return groupRules(C_BUTTONS, "kc", images) + groupRules(MAIN_BUTTONS, "km", images);
  }

  function lanesHtml() {
    let html = '<span class="n">row</span><span class="n">in demo</span>';
    const shown = tablesLeftOut ? 0 : controllers;
    let lanes = '<b class="h x">X</b><b class="h y">Y</b>';
    for (const name of LANE_NAMES) {
      lanes += '<i class="i-' + name + '" title="' + name + '" style="left:' + laneLeft(name) + 'px"></i>';
    }
    lanes += '<s class="r">reserved</s>';
    for (let n = 1; n <= shown; n++) html += '<span class="c"><span class="cn">Controller ' + n + "</span>" + lanes +
                                             "</span>";
    return html;
  }

  // ------------------------------------------------------------ the page

  const drawing = document.createElement("style");
  drawing.textContent = laneRules();
  document.head.appendChild(drawing);

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
    '<a id="save" href="#">save the demo</a>';
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
  (document.getElementById("demo-file") || summary).after(tools, printed, sheet, closing, notes);
  const title = summary.querySelector("h1");
  if (title) document.title = title.textContent + " (demo2html view)";

  function notesHtml() {
    const notes = [];
    if (tablesLeftOut) {
      notes.push("The demo has " + controllers + " controllers, more than " + view.MAX_TABLE_CONTROLLERS +
                 "; the block tables are left out.");
    }
    if (demo.size < view.HEADER_SIZE) {
      notes.push("The demo ends after " + demo.size + (demo.size === 1 ? " byte" : " bytes") +
                 ", inside its header; the missing header bytes are shown as 0xFF.");
    } else if (demo.endedEarly) {
      notes.push("The demo ends early, at offset " + demo.endOffset +
                 ", before the zero word that closes its command blocks; the view shows what it holds.");
    }
    return notes.map(text => "<p>" + text + "</p>").join("");
  }

  // ------------------------------------------------------------ scrolling

  const shownLines = new Map(); // line -> element
  const stats = {renders: 0, total: 0, max: 0};

  // The top of the sheet's rows in the document and the height of its
  // sticky head, measured once the page is first laid out and again when
  // the window changes size: a scroll then makes the browser lay out
  // nothing before the new lines are in. The first lines are built before
  // that, from the top of the page, which needs no measure.
  const layout = {rowsTop: 0, head: 0, measured: false};
  function measure() {
    layout.rowsTop = rowsBox.getBoundingClientRect().top + scrollY;
    layout.head = head.offsetHeight;
    layout.measured = true;
  }
  const rowsTop = () => {
    if (!layout.measured) measure();
    return layout.rowsTop;
  };

  // Where the window's rows begin, below the sticky head: in pixels of the
  // rows' box (the anchor), and in pixels of all lines (its place in the
  // demo). They are the same unless the box is shorter than the lines;
  // then the anchor's whole range maps onto the lines' whole range, so the
  // last lines can be scrolled to as well.
  function anchor() {
    if (!layout.measured && scrollY === 0) return 0;
    const top = rowsTop();
    return Math.max(0, scrollY + layout.head - top);
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
  let currentBlock = -1; // the block the head names
  view.afterRender = [];

  // The block in view: that of the line at the top, or, once the demo's
  // last line is in the window, the last block, whose bar is then in the
  // window too (or above it).
  function blockInView(inDemo) {
    if (!blocks.length) return -1;
    const top = Math.min(lineCount - 1, Math.floor(inDemo / LINE));
    const bottom = Math.floor((inDemo + innerHeight - layout.head - 1) / LINE);
    return bottom >= lineCount - 1 ? blocks.length - 1 : demo.blockOfLine(top);
  }

  // Shows the lines in and near the window: the elements of lines gone
  // from there are filled in again with the new ones, moved into place,
  // and only what is left over is dropped.
  function render(again) {
    const started = performance.now();
    const at = anchor();
    const inDemo = placeInDemo(at);
    showCurrentBlock(blockInView(inDemo), again);
    // Lines move in the box only when it is shorter than the lines: then
    // every line is placed again.
    const offset = at - inDemo;
    // Read before the lines change: a read of the layout after a change
    // would have the browser lay the new lines out there and then.
    const topRow = rowOfLine(Math.min(lineCount - 1, Math.floor((inDemo + 1) / LINE)));
    const first = Math.max(0, Math.floor(inDemo / LINE) - MARGIN);
    const last = Math.min(lineCount - 1, Math.floor((inDemo + innerHeight - layout.head) / LINE) + MARGIN);
    const free = [];
    for (const [line, element] of shownLines) {
      if (line < first || line > last || offset !== placedAt) {
        free.push(element);
        shownLines.delete(line);
      } else if (again === true || element.shape < 0) {
        if (again === true) element.block = -1;
        fillLine(element, lineAt(line));
      }
    }
    placedAt = offset;
    let added = null;
    for (let line = first; line <= last; line++) {
      if (shownLines.has(line)) continue;
      const where = lineAt(line);
      const reused = free.findIndex(element => element.shape === where.cells);
      let element;
      if (reused >= 0) {
        element = free[reused];
        free[reused] = free[free.length - 1];
        free.pop();
      } else {
        element = makeShape(where.cells);
        added = added || document.createDocumentFragment();
        added.appendChild(element);
      }
      fillLine(element, where);
      element.style.top = line * LINE + offset + "px";
      shownLines.set(line, element);
    }
    for (const element of free) element.remove();
    if (added) rowsBox.appendChild(added);
    for (const after of view.afterRender) after(topRow);
    const spent = performance.now() - started;
    stats.renders++;
    stats.total += spent;
    stats.max = Math.max(stats.max, spent);
  }

  function showCurrentBlock(index, again) {
    if (index === currentBlock && again !== true) return;
    currentBlock = index;
    current.innerHTML = index < 0 ? "" : barText(index);
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
  // The row across the demo, from 0, at the top of the rows (a bar counts
  // as its block's first row).
  const rowAtTop = () => rowOfLine(lineAtTop());
  function rowOfLine(line) {
    if (!blocks.length) return 0;
    const block = blocks[demo.blockOfLine(line)];
    return Math.min(rowCount - 1, block.firstRow + Math.max(0, line - block.line - 1));
  }

  // A row across the demo, from 0, taken as the nearest when out of range.
  function goToRow(row) {
    if (!rowCount) return;
    const across = Math.max(0, Math.min(rowCount - 1, row));
    const index = demo.blockOfRow(across);
    goToLine(blocks[index].line + 1 + across - blocks[index].firstRow);
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
      goToRow(row - 1);
    }
  }

  tools.querySelector("#go").addEventListener("submit", event => {
    event.preventDefault();
    goTo(Number(tools.querySelector("#go-block").value) || 0, Number(tools.querySelector("#go-row").value) || 0);
  });

  const keys = {
    j: () => goToLine(lineAtTop() + 1),
    k: () => goToLine(lineAtTop() - 1),
    n: () => blocks.length && goToLine(blocks[Math.min(blocks.length - 1, demo.blockOfLine(lineAtTop()) + 1)].line),
    p: () => {
      if (!blocks.length) return;
      const at = lineAtTop();
      const index = demo.blockOfLine(at);
      goToLine(blocks[blocks[index].line < at ? index : Math.max(0, index - 1)].line);
    },
    g: () => tools.querySelector("#go-block").focus(),
  };
  document.addEventListener("keydown", event => {
    const inBox = event.target.closest && event.target.closest("input, button, select");
    if (event.ctrlKey || event.altKey || event.metaKey || inBox) return;
    const action = keys[event.key];
    if (action) {
      event.preventDefault();
      action();
    }
  });

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

  Object.assign(view, {element: lineElement, goTo: goTo, goToRow: goToRow, goToLine: goToLine,
                       lineAtTop: lineAtTop, rowAtTop: rowAtTop, render: render, refresh: () => render(true),
                       measure: measure, keys: keys, tools: tools, sheet: sheet, stats: stats,
                       currentBlock: () => currentBlock, LINE: LINE});
})(view);
