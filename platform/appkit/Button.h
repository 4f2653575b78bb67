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
};

}  // namespace appkit
