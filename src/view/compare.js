// Compare with a second demo.
//
// Contract: "Compare with…" (a file chooser, or a demo dropped onto the
// page, read with FileReader) walks the second demo as the first and
// matches row N of this demo with row N + shift of the other (the shift
// box). The controllers both have are compared, a note names the others;
// a row that only one demo has differs whole. Every differing lane of a
// cell is marked (view.marks.differ), and the row in the strip
// (view.rowDiffers); the summary's fields that differ are marked and named
// with both values; the first difference, the count of rows that differ in
// all and per block (in each block's bar), and next and previous
// difference (keys d and D) are shown, with both demos' names, set as
// text. A second file that ends inside its header is named in a message
// and changes nothing. view.compareWith(bytes, name) does the same for a
// test.
(function (view) {
  "use strict";
  const demo = view.demo;
  const WORD = view.WORD;
  const ALL_LANES = (1 << 17) - 1;
  // The header's fields as the summary labels them: the label, the offset,
  // the size in bytes, how a value shows.
  const hex = value => value.toString(16).toUpperCase();
  const FIELDS = [
    {label: "Stage", offset: 19, size: 1, show: value => "code " + value, title: true},
    {label: "Size", offset: 128, size: 4, show: hex},
    {label: "Time", offset: 124, size: 4, show: value => Math.floor(value / 60) + ":" + (value % 60) + " seconds"},
    {label: "Difficulty", offset: 23, size: 1, show: value => "code " + value},
    {label: "Players", offset: 143, size: 1, show: value => String(((value << 24) >> 24) + 1)},
    {label: "Screen", offset: 41, size: 1, show: value => "options 0x" + hex(value), options: true},
    {label: "Controllers", offset: 24, size: 4, show: String},
    {label: "Controllers", offset: 40, size: 1, show: value => "setup 0x" + hex(value)},
  ];

  const box = document.createElement("div");
  box.id = "compare";
  box.innerHTML = '<label>Compare with… <input type="file" id="compare-file"></label> ' +
                  '<label>shift <input type="number" id="compare-shift" value="0"> rows</label> ' +
                  '<button type="button" id="compare-previous">previous difference</button> ' +
                  '<button type="button" id="compare-next">next difference</button>' +
                  '<div id="compare-said" aria-live="polite"></div>';
  view.tools.appendChild(box);
  const said = box.querySelector("#compare-said");
  const summary = document.getElementById("summary");

  let other = null; // the second demo
  let otherName = "";
  let shift = 0;
  let differs = null; // per row of this demo: 1 where it differs
  let perBlock = [];

  // The differing lanes of controller `cell` in `row`, as lines.js marks
  // them: X, Y, the buttons in the lanes' order, the reserved bits.
  function differ(row, cell) {
    if (!differs || !differs[row]) return 0;
    const mine = entryAt(demo, row, cell);
    const theirs = entryAt(other, row + shift, cell);
    if (mine < 0 || theirs < 0) return ALL_LANES;
    const changed = (mine ^ theirs) >>> 0;
    let mask = (changed >>> 24 ? 1 : 0) | ((changed >>> 16) & 0xff ? 2 : 0);
    for (let bit = 0; bit < 6; bit++) if (changed & (1 << (8 + bit))) mask |= 1 << (2 + bit);
    for (let bit = 0; bit < 8; bit++) if (changed & (1 << bit)) mask |= 1 << (8 + bit);
    if (changed & 0xc000) mask |= 1 << 16;
    return mask;
  }

  // The entry of controller `cell` in row `row` of `which` as a word, or -1
  // when that demo has no such entry.
  function entryAt(which, row, cell) {
    if (row < 0 || row >= which.rowCount || cell >= which.controllers) return -1;
    const index = which.blockOfRow(row);
    const block = which.blocks[index];
    const entry = (row - block.firstRow) * which.controllers + cell;
    if (entry >= block.entries) return -1;
    const bytes = which.bytes();
    const at = block.offset + WORD + entry * WORD;
    return ((bytes[at] << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]) >>> 0;
  }

  // Walks every row of this demo against the other's: which differ, how
  // many in each block and in all, with the rows that only the other has.
  function compareRows() {
    const cells = Math.min(demo.controllers, other.controllers);
    differs = new Uint8Array(demo.rowCount);
    perBlock = demo.blocks.map(() => 0);
    let count = 0;
    let first = -1;
    let overlap = 0;
    for (let index = 0; index < demo.blocks.length; index++) {
      const block = demo.blocks[index];
      for (let row = block.firstRow; row < block.firstRow + block.shown; row++) {
        const mate = row + shift;
        const both = mate >= 0 && mate < other.rowCount;
        if (both) overlap++;
        let differing = !both;
        for (let cell = 0; cell < cells && !differing; cell++) differing = entryAt(demo, row, cell) !== entryAt(other, mate, cell);
        if (!differing) continue;
        differs[row] = 1;
        perBlock[index]++;
        count++;
        if (first < 0) first = row;
      }
    }
    return {count: count, first: first, onlyOther: other.rowCount - overlap, cells: cells};
  }

  // The summary's value of `label` (its <i> after <b>label:</b>), or the
  // title for the stage.
  function summaryValues(field) {
    if (field.title) return [...summary.querySelectorAll("h1")];
    const labels = [...summary.querySelectorAll("b")];
    const known = FIELDS.filter(f => !f.options).map(f => f.label + ":");
    return labels.filter(b => (field.options ? !known.includes(b.textContent) : b.textContent === field.label + ":"))
      .map(b => b.nextElementSibling).filter(Boolean);
  }

  function fieldValue(which, field) {
    return field.size === 4 ? which.headerWord(field.offset) : which.headerByte(field.offset);
  }

  function compareHeaders() {
    for (const marked of summary.querySelectorAll(".differs")) marked.classList.remove("differs");
    const named = [];
    for (const field of FIELDS) {
      const mine = fieldValue(demo, field);
      const theirs = fieldValue(other, field);
      if (mine === theirs) continue;
      for (const value of summaryValues(field)) value.classList.add("differs");
      named.push(field.label + ": " + field.show(mine) + " here, " + field.show(theirs) + " in the other");
    }
    return named;
  }

  // Says what the comparison found, every name as text.
  function tell(found, fields) {
    said.replaceChildren();
    const line = text => said.appendChild(document.createElement("p")).appendChild(document.createTextNode(text));
    line("Comparing " + view.name + " with " + otherName + (shift ? ", shifted by " + shift + " rows" : "") + ": " +
         (found.count + found.onlyOther) + " rows differ (" + found.count + " of this demo's " + demo.rowCount +
         (found.onlyOther ? ", " + found.onlyOther + " only in the other" : "") + ")" +
         (found.first >= 0 ? "; the first at row " + (found.first + 1) : "; none in this demo's rows") + ".");
    if (fields.length) line("The headers differ: " + fields.join("; ") + ".");
    if (demo.controllers !== other.controllers) {
      line("Controllers 1 to " + found.cells + " are compared; " + (demo.controllers > other.controllers
        ? "this demo's controllers " + (found.cells + 1) + " to " + demo.controllers + " are not in the other."
        : "the other's controllers " + (found.cells + 1) + " to " + other.controllers + " are not in this one."));
    }
  }

  function compare() {
    if (!other) return;
    shift = Math.trunc(Number(box.querySelector("#compare-shift").value) || 0);
    const found = compareRows();
    tell(found, compareHeaders());
    view.marks.differ = differ;
    view.rowDiffers = row => differs[row] === 1;
    view.barNote = index => (perBlock[index] ? '<span class="differ">' + perBlock[index] + " rows differ</span>" : "");
    view.compared = found;
    view.refresh();
    view.strip.redraw();
    if (found.first >= 0) view.goToRow(found.first);
  }

  // Takes `bytes`, the demo named `name`, as the other demo.
  function compareWith(bytes, name) {
    const read = view.readDemoBytes(bytes);
    if (read.size < view.HEADER_SIZE) {
      said.replaceChildren();
      said.appendChild(document.createElement("p")).textContent =
        name + " is not a demo: it ends after " + read.size + (read.size === 1 ? " byte" : " bytes") +
        ", inside its header; nothing is compared.";
      return;
    }
    other = read;
    otherName = name;
    compare();
  }

  function readFile(file) {
    const reader = new FileReader();
    reader.onload = () => compareWith(new Uint8Array(reader.result), file.name);
    reader.onerror = () => (said.textContent = "cannot read " + file.name + ": " + reader.error);
    reader.readAsArrayBuffer(file);
  }

  // The next (step 1) or previous (-1) row that differs from the row at
  // the top.
  function nextDifference(step) {
    if (!differs) return;
    for (let row = view.rowAtTop() + step; row >= 0 && row < demo.rowCount; row += step) {
      if (differs[row]) return view.goToRow(row);
    }
  }

  box.querySelector("#compare-file").addEventListener("change", event => {
    if (event.target.files.length) readFile(event.target.files[0]);
  });
  box.querySelector("#compare-shift").addEventListener("change", compare);
  box.querySelector("#compare-next").addEventListener("click", () => nextDifference(1));
  box.querySelector("#compare-previous").addEventListener("click", () => nextDifference(-1));
  addEventListener("dragover", event => event.preventDefault());
  addEventListener("drop", event => {
    event.preventDefault();
    const files = event.dataTransfer && event.dataTransfer.files;
    if (files && files.length) readFile(files[0]);
  });
  view.keys.d = () => nextDifference(1);
  view.keys.D = () => nextDifference(-1);
  view.compareWith = compareWith;
})(view);
