// The demo's bytes and the walk over its command blocks.
//
// Contract: reads the base64 text of <script id="demo"> once and empties
// it; gives the shared object `view` the demo's size, byteAt(offset),
// word(offset), decodeAll(), its controller count, whether its tables are
// left out, and the walk as the report does it: blocks (each with its
// header word's offset, the word, the rows it announces, the entries held,
// the rows shown, its first line and the number of its first row across
// the demo), lineCount, rowCount, blockOfLine(line), blockOfRow(row) and
// how the demo ends. readDemoBytes(bytes) does the same for a demo's bytes
// and returns it, as compare reads a second demo. Nothing here touches
// the page's layout.
"use strict";
const view = {};
(function (view) {
  // The demo's layout.
  const HEADER_SIZE = 232;
  const CONTROLLERS_OFFSET = 24;
  const WORD = 4;
  const MAX_TABLE_CONTROLLERS = 254;

  const DIGITS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const digitValue = new Uint8Array(128); // "=" and anything else read as 0
  for (let i = 0; i < DIGITS.length; i++) digitValue[DIGITS.charCodeAt(i)] = i;

  // A demo kept as its base64 text: a byte is read from its group of four
  // digits when it is shown, so opening the page decodes nothing but the
  // header and the blocks' words, whatever the demo's length. The whole
  // demo is decoded only when it is saved, drawn in the strip, searched or
  // compared.
  function readDemo(text) {
    const padding = text.endsWith("==") ? 2 : text.endsWith("=") ? 1 : 0;
    const demo = {size: (text.length / 4) * 3 - padding, blocks: [], endedEarly: false, endOffset: 0};

    // The byte at `offset`, from 0, which must lie inside the demo.
    demo.byteAt = offset => {
      const third = (offset / 3) | 0;
      const at = third * 4;
      const group = (digitValue[text.charCodeAt(at)] << 18) | (digitValue[text.charCodeAt(at + 1)] << 12) |
                    (digitValue[text.charCodeAt(at + 2)] << 6) | digitValue[text.charCodeAt(at + 3)];
      return (group >> (16 - 8 * (offset - third * 3))) & 0xff;
    };
    demo.decodeAll = () => {
      if (typeof Uint8Array.fromBase64 === "function") return Uint8Array.fromBase64(text);
      const binary = atob(text);
      const bytes = new Uint8Array(binary.length);
      for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
      return bytes;
    };
    // The whole demo decoded once, for the parts that read every row.
    let decoded = null;
    demo.bytes = () => (decoded = decoded || demo.decodeAll());
    return walked(demo);
  }

  // A demo read as bytes (a Uint8Array), as a compared demo is.
  function readDemoBytes(bytes) {
    const demo = {size: bytes.length, blocks: [], endedEarly: false, endOffset: 0};
    demo.byteAt = offset => bytes[offset];
    demo.decodeAll = demo.bytes = () => bytes;
    return walked(demo);
  }

  // `demo`, which can read its bytes, with its header's fields and its walk.
  function walked(demo) {
    // A header byte beyond the end of a short demo reads as 0xFF, as in the
    // report.
    demo.headerByte = offset => (offset < demo.size ? demo.byteAt(offset) : 0xff);
    demo.word = offset => ((demo.byteAt(offset) << 24) | (demo.byteAt(offset + 1) << 16) |
                           (demo.byteAt(offset + 2) << 8) | demo.byteAt(offset + 3)) >>> 0;
    const headerWord = offset =>
      ((demo.headerByte(offset) << 24) | (demo.headerByte(offset + 1) << 16) | (demo.headerByte(offset + 2) << 8) |
       demo.headerByte(offset + 3)) >>> 0;
    demo.headerWord = headerWord;
    demo.controllers = headerWord(CONTROLLERS_OFFSET);
    demo.tablesLeftOut = demo.controllers > MAX_TABLE_CONTROLLERS;
    walkBlocks(demo);
    const last = demo.blocks[demo.blocks.length - 1];
    demo.lineCount = last ? last.line + 1 + last.shown : 0;
    demo.rowCount = last ? last.firstRow + last.shown : 0;
    demo.blockOfLine = line => lastBlockFrom(demo.blocks, "line", line);
    demo.blockOfRow = row => lastBlockFrom(demo.blocks, "firstRow", row); // the demo's row, from 0
    // The offset of the entry of controller `cell` in row `row` across the
    // demo, from 0.
    demo.entryOffset = (row, cell) => {
      const block = demo.blocks[demo.blockOfRow(row)];
      return block.offset + WORD + ((row - block.firstRow) * demo.controllers + cell) * WORD;
    };
    return demo;
  }

  // Every block: where its header word lies, the word, the rows it
  // announces, the entries the demo holds of it, the rows shown, its first
  // line and the number across the demo of its first row.
  function walkBlocks(demo) {
    const size = demo.size;
    if (size < HEADER_SIZE) {
      demo.endedEarly = true;
      demo.endOffset = size;
      return;
    }
    if (demo.tablesLeftOut) return;
    let at = HEADER_SIZE;
    let line = 0;
    let rowsBefore = 0;
    for (;;) {
      if (at + WORD > size) {
        demo.endedEarly = true;
        demo.endOffset = at;
        return;
      }
      const header = demo.word(at);
      if (header === 0) return;
      const rows = (header >>> 16) & 0xff; // the word's second byte
      const announced = rows * demo.controllers;
      const entries = Math.min(announced, Math.floor((size - at - WORD) / WORD));
      const shown = demo.controllers === 0 ? 0 : Math.ceil(entries / demo.controllers);
      demo.blocks.push({offset: at, word: header, rows: rows, entries: entries, shown: shown, line: line,
                        firstRow: rowsBefore});
      line += 1 + shown;
      rowsBefore += shown;
      if (entries < announced) {
        demo.endedEarly = true;
        demo.endOffset = at + WORD + entries * WORD;
        return;
      }
      at += WORD + announced * WORD;
    }
  }

  // The last block whose `field` (its first line, or the number of its
  // first row) is not above `value`: the block that holds that line or row.
  function lastBlockFrom(blocks, field, value) {
    let low = 0;
    let high = blocks.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (blocks[middle][field] <= value) low = middle;
      else high = middle - 1;
    }
    return low;
  }

  const source = document.getElementById("demo");
  const demo = readDemo(source.textContent);
  source.textContent = "";
  Object.assign(view, {demo: demo, readDemoBytes: readDemoBytes, WORD: WORD, HEADER_SIZE: HEADER_SIZE,
                       MAX_TABLE_CONTROLLERS: MAX_TABLE_CONTROLLERS});
})(view);
