#pragma once

#include "appkit/ButtonCell.h"
#include "appkit/Control.h"

namespace appkit {

// A push button or check box: a control whose own cell is a ButtonCell. Main thread only.
class Button : public Control {
 public:
  Button();
  explicit Button(Rect frame);

  // The current cell when it is a button cell (a layout may give the button another kind), or
  // null.
  ButtonCell* buttonCell() const;
  void setButtonType(ButtonCell::ButtonType type);
  void setBezelStyle(ButtonCell::BezelStyle style);

  // The key (Return or Escape) that clicks the button in a window with the keyboard focus; Other
  // for none.
  Key keyEquivalent() const { return _keyEquivalent; }
  void setKeyEquivalent(Key key) { _keyEquivalent = key; }

  // A check box to a screen reader when its cell is a switch, else a push button; named by its
  // title.
  AccessibilityRole accessibilityRole() const override;
  Rect focusRingRect() override;
  std::string accessibilityLabel() const override { return title(); }

 private:
  Key _keyEquivalent = Key::Other;
};

}  // namespace appkit
