#pragma once

class QLabel;

// Readies a label that the tick rewrites several times a second, so that a
// new text costs a repaint of that label and nothing more:
// - it fills its own background, so the repaint manager need not repaint
//   the tab page and group box beneath it;
// - its text is taken as plain text: what the system hands over (an
//   interface's description may hold '<' or '&') is never markup, and a
//   write skips the scan for it;
// - its size is fixed (its geometry never changes), so a new text does not
//   post a layout request to the parent.
// None of it changes a pixel of what the label shows.
void makeValueLabel(QLabel *label);
