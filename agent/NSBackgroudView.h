#pragma once

#include "appkit/View.h"

// The body of the pop-up window: a white panel with 8-point rounded corners, shading from white at
// the top to 92 % white at the bottom, on a transparent window. Presses on it are swallowed. Made
// by the window layout. Main thread only.
class NSBackgroudView : public appkit::View {
 public:
  // Draws the panel built on the bounds, so that a partial redraw (the area of a button whose
  // colour changed) repaints the same panel within `dirtyRect` rather than a smaller one.
  void drawRect(appkit::Rect dirtyRect) override;
  // Consumes the press: it does not reach the next responder.
  void mouseDown(const appkit::Event& event) override;
  void awakeFromNib() override;
};
