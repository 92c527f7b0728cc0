// The page's start, after every part has joined in.
//
// Contract: the link that saves the demo under the demo's own file name,
// which the program writes into <span id="demo-name">; the first lines,
// shown before the page is first laid out and again once it is; and
// window.demoView, through which a test reads what the page shows without
// scrolling.
(function (view) {
  "use strict";
  const demo = view.demo;
  const save = view.tools.querySelector("#save");
  const named = document.getElementById("demo-name");
  view.name = (named && named.textContent) || "demo";
  save.download = view.name;
  // The demo is decoded for the link when it is first used.
  save.addEventListener("click", () => {
    if (!save.href.startsWith("blob:")) {
      save.href = URL.createObjectURL(new Blob([demo.decodeAll()], {type: "application/octet-stream"}));
    }
  });

  view.render();
  // An address that names a row is gone to at once, and again once the
  // page is laid out.
  if (location.hash) view.goToAddress();
  requestAnimationFrame(() => {
    view.measure();
    view.render();
    if (view.markedRow >= 0) view.goToAddress();
    // The summary's fonts may change its height once they are in.
    if (document.fonts) document.fonts.ready.then(() => {
      view.measure();
      view.render();
    });
  });

  window.demoView = {
    controllers: demo.controllers,
    tablesLeftOut: demo.tablesLeftOut,
    endedEarly: demo.endedEarly,
    endOffset: demo.endOffset,
    lineCount: demo.lineCount,
    blocks: () => demo.blocks.map(b => ({word: view.hex8(b.word), rows: b.rows, entries: b.entries, shown: b.shown,
                                         line: b.line})),
    // The element of any line, as the window shows it, not in the page.
    element: view.element,
    goTo: view.goTo,
    goToLine: view.goToLine,
    currentBlock: view.currentBlock,
    stats: view.stats,
    rowAtTop: view.rowAtTop,
    markedRow: () => view.markedRow,
    view: view,
  };
})(view);
