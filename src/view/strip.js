// The strip: the whole demo at a glance, at the window's right edge.
//
// Contract: a canvas as tall as the window, in CSS pixels, draws every row
// of the demo top to bottom: each pixel row covers its share of the demo's
// rows; for each controller a lane per button, dark where the button is
// held in any row the pixel row covers, and a lane with the stick's
// greatest strength there as a shade (at more than STRIP_BOUND pixels the
// lanes merge to one per controller, dark where anything is held). A
// first column marks the blocks' bounds, and where view.rowDiffers(row)
// is true, a difference with a compared demo. A box marks the rows in the
// window; a click or a drag on the strip goes there; its title names the
// block and row under the pointer. It is drawn from the demo's bytes after
// the first rows show, in slices of at most SLICE_MS on the page's own
// thread, and again when the window's height changes (view.strip.redraw()
// draws it again, as compare does). view.strip.done tells when it is whole, view.strip.doneAt
// when (performance.now()).
(function (view) {
  "use strict";
  const demo = view.demo;
  const LANES = view.C_BUTTONS.length + view.MAIN_BUTTONS.length; // 14, bits 0-13 of bytes 2 and 3
  const FULL = LANES + 2; // per controller: the buttons, the stick's shade, a gap
  const STRIP_BOUND = 96; // pixels at most for full lanes
  const MARKS = 3; // the bounds' and differences' column, and a gap
  const SLICE_MS = 6;
  const shown = demo.tablesLeftOut ? 0 : demo.controllers;
  const merged = shown * FULL > STRIP_BOUND;
  const width = shown === 0 ? 0 : MARKS + (merged ? shown : shown * FULL);
  view.strip = {width: width, merged: merged, done: false, redraw: () => {}, lanes: FULL, marks: MARKS};
  if (!demo.rowCount || width === 0) return;

  const holder = document.createElement("div");
  holder.id = "strip";
  holder.innerHTML = '<canvas></canvas><div id="strip-box"></div>';
  document.body.appendChild(holder);
  document.body.style.setProperty("--strip", width + "px");
  const canvas = holder.firstChild;
  const box = holder.lastChild;
  const context = canvas.getContext("2d");

  let bytes = null; // the demo decoded, once
  let drawing = 0; // the slice's timer
  let height = 0;

  // Where each pixel row starts: the first row across the demo it covers.
  const firstRowOf = y => Math.floor((y * demo.rowCount) / height);
  const pixelOf = row => Math.floor((row * height) / demo.rowCount);

  function redraw() {
    clearTimeout(drawing);
    height = Math.max(1, innerHeight);
    canvas.width = width;
    canvas.height = height;
    canvas.style.height = height + "px";
    view.strip.done = false;
    bytes = demo.bytes();
    const image = context.createImageData(width, height);
    // The page's text colour, light or dark as the page is.
    const ink = getComputedStyle(document.body).color.match(/\d+/g).slice(0, 3).map(Number);
    let block = 0;
    let row = 0;
    const next = () => {
      const started = performance.now();
      while (row < demo.rowCount && performance.now() - started < SLICE_MS) {
        const end = Math.min(demo.rowCount, row + 2000);
        for (; row < end; row++) {
          while (block + 1 < demo.blocks.length && demo.blocks[block + 1].firstRow <= row) block++;
          drawRow(image.data, ink, block, row);
        }
      }
      context.putImageData(image, 0, 0);
      if (row < demo.rowCount) drawing = setTimeout(next, 0);
      else {
        view.strip.done = true;
        view.strip.doneAt = performance.now();
      }
    };
    drawing = setTimeout(next, 0);
    placeBox();
  }

  // Darkens, in pixel row pixelOf(row), what `row` holds: its block's
  // bound, a difference, and each controller's buttons and stick.
  function drawRow(data, ink, block, row) {
    const y = pixelOf(row);
    const line = y * width * 4;
    const start = demo.blocks[block];
    if (start.firstRow === row) paint(data, line, 0, ink, 160);
    if (view.rowDiffers && view.rowDiffers(row)) paint(data, line + 4, 0, [220, 50, 30], 255);
    const cells = Math.min(shown, start.entries - (row - start.firstRow) * demo.controllers);
    let at = start.offset + view.WORD + (row - start.firstRow) * demo.controllers * view.WORD;
    for (let cell = 0; cell < cells; cell++, at += view.WORD) {
      const buttons = bytes[at + 3] | ((bytes[at + 2] & 0x3f) << 8);
      if (merged) {
        if (buttons) paint(data, line, MARKS + cell, ink, 255);
        continue;
      }
      const left = MARKS + cell * FULL;
      for (let lane = 0; lane < LANES; lane++) {
        if (buttons & laneBit[lane]) paint(data, line, left + lane, ink, 255);
      }
      const x = bytes[at] < 128 ? bytes[at] : 256 - bytes[at];
      const yValue = bytes[at + 1] < 128 ? bytes[at + 1] : 256 - bytes[at + 1];
      paint(data, line, left + LANES, ink, Math.min(255, Math.round((Math.max(x, yValue) * 255) / 128)));
    }
  }
  // The lanes in the order of the rows' lanes: the C buttons (byte 2, bits
  // 0-5), then the main buttons (byte 3, bits 0-7).
  const laneBit = [];
  for (let bit = 0; bit < 6; bit++) laneBit.push(1 << (8 + bit));
  for (let bit = 0; bit < 8; bit++) laneBit.push(1 << bit);

  // Makes pixel `x` of the pixel row at `line` at least `alpha` opaque.
  function paint(data, line, x, colour, alpha) {
    const at = line + x * 4;
    if (data[at + 3] >= alpha) return;
    data[at] = colour[0];
    data[at + 1] = colour[1];
    data[at + 2] = colour[2];
    data[at + 3] = alpha;
  }

  // The box over the rows in the window, from `top`, the row at the top
  // (read from the view when not given).
  function placeBox(top) {
    if (top === undefined) top = view.rowAtTop();
    const rows = Math.max(1, Math.floor(height / view.LINE));
    box.style.top = pixelOf(top) + "px";
    box.style.height = Math.max(2, pixelOf(top + rows) - pixelOf(top)) + "px";
  }

  // The row under a point of the strip, from 0.
  const rowAt = event => {
    const y = event.clientY - canvas.getBoundingClientRect().top;
    return Math.max(0, Math.min(demo.rowCount - 1, firstRowOf(Math.max(0, y))));
  };
  let dragging = false;
  holder.addEventListener("pointerdown", event => {
    dragging = true;
    if (event.isTrusted) holder.setPointerCapture(event.pointerId);
    view.goToRow(rowAt(event));
  });
  holder.addEventListener("pointerup", () => (dragging = false));
  holder.addEventListener("pointermove", event => {
    const row = rowAt(event);
    if (dragging) view.goToRow(row);
    const index = demo.blockOfRow(row);
    holder.title = "Block " + (index + 1) + ", row " + (row - demo.blocks[index].firstRow + 1) + " (row " + (row + 1) +
                   " of the demo)";
  });

  view.afterRender.push(placeBox);
  addEventListener("resize", () => {
    if (innerHeight !== height) redraw();
  });
  view.strip.redraw = redraw;
  view.strip.pixelOf = pixelOf;
  view.strip.context = context;
  // The first rows show first: the strip starts once they are painted, or
  // after the load event where a frame that is not shown paints nothing.
  let started = false;
  const start = () => {
    if (!started) setTimeout(redraw, 0);
    started = true;
  };
  requestAnimationFrame(start);
  addEventListener("load", start);
})(view);
