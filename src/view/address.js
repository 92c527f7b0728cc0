// The address: a place in the demo that can be sent to someone.
//
// Contract: the address names the row in view as #row=N (across the demo)
// or #block=B&row=R (R within block B), counted from 1 as shown, a number
// out of range taken as the nearest. Opening the page with such an
// address, or a change of it (hashchange, a row number's link), goes to
// that row and marks it (view.markedRow, from 0). Once the view has rested
// 300 ms after a move the address is replaced (history.replaceState, no
// history entry) with #row=N of the marked row while it is in the window,
// else of the row at the top. "copy place" copies #row=N alone.
(function (view) {
  "use strict";
  const demo = view.demo;
  const REST = 300; // milliseconds without a move before the address follows
  view.markedRow = -1;

  // The row across the demo, from 0, that `hash` names, or -1.
  function rowOfHash(hash) {
    const fields = new URLSearchParams(hash.replace(/^#/, ""));
    const number = name => Math.floor(Number(fields.get(name)));
    if (!demo.rowCount || !fields.has("row") || !Number.isFinite(number("row"))) return -1;
    const row = number("row") - 1;
    if (!fields.has("block")) return Math.max(0, Math.min(demo.rowCount - 1, row));
    const blockNumber = Number.isFinite(number("block")) ? number("block") : 1;
    const index = Math.max(0, Math.min(demo.blocks.length - 1, blockNumber - 1));
    const block = demo.blocks[index];
    return block.firstRow + Math.max(0, Math.min(block.shown - 1, row));
  }

  function goToAddress() {
    const row = rowOfHash(location.hash);
    if (row < 0) return;
    view.markedRow = row;
    view.goToRow(row);
    view.refresh();
  }

  const placeText = () => "#row=" + (placeInView() + 1);
  function placeInView() {
    const top = view.rowAtTop();
    const marked = view.markedRow;
    const shown = Math.floor((innerHeight - view.LINE * 3) / view.LINE);
    return marked >= top && marked < top + shown ? marked : top;
  }

  let resting = 0;
  view.afterRender.push(() => {
    clearTimeout(resting);
    resting = setTimeout(() => {
      if (!demo.rowCount || (!location.hash && placeInView() === 0)) return;
      const place = placeText();
      if (location.hash !== place) history.replaceState(history.state, "", place);
    }, REST);
  });
  addEventListener("hashchange", goToAddress);

  const copy = document.createElement("span");
  copy.innerHTML = '<button type="button" id="copy-place">copy place</button> <output id="copied"></output>';
  view.tools.appendChild(copy);
  copy.querySelector("button").addEventListener("click", () => {
    const place = placeText();
    const said = copy.querySelector("output");
    const done = () => (said.textContent = "copied " + place);
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(place).then(done, () => copyBySelection(place, done));
    } else {
      copyBySelection(place, done);
    }
  });
  // Where the clipboard's own call is refused: a selected text box, copied.
  function copyBySelection(text, done) {
    const box = document.createElement("textarea");
    box.value = text;
    document.body.appendChild(box);
    box.select();
    if (document.execCommand("copy")) done();
    box.remove();
  }

  view.goToAddress = goToAddress;
  view.placeText = placeText;
})(view);
