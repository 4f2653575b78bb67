#include "appkit/Button.h"

#include <memory>

namespace appkit {

Button::Button() { setOwnedCell(std::make_unique<ButtonCell>()); }

Button::Button(Rect frame) : Control(frame) { setOwnedCell(std::make_unique<ButtonCell>()); }

AccessibilityRole Button::accessibilityRole() const {
  ButtonCell* cell = buttonCell();
  return cell && cell->buttonType() == ButtonType::Switch ? AccessibilityRole::CheckBox
                                                          : AccessibilityRole::PushButton;
}

Rect Button::focusRingRect() {
  ButtonCell* cell = buttonCell();
  return cell ? cell->focusRingRectForBounds(bounds()) : bounds();
}

ButtonCell* Button::buttonCell() const { return dynamic_cast<ButtonCell*>(cell()); }

void Button::setButtonType(ButtonCell::ButtonType type) {
  if (ButtonCell* cell = buttonCell()) cell->setButtonType(type);
}

void Button::setBezelStyle(ButtonCell::BezelStyle style) {
  if (ButtonCell* cell = buttonCell()) cell->setBezelStyle(style);
}

}  // namespace appkit
