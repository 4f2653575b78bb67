// The layout classes of the controls: Control, Button, ButtonCell and TextField, with their
// properties, the "cell" outlet and the attributes that bindings use.

#include <string>
#include <type_traits>
#include <utility>

#include "appkit/Button.h"
#include "appkit/ButtonCell.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistry.h"
#include "appkit/Control.h"
#include "appkit/LayoutValues.h"
#include "appkit/TextField.h"
#include "foundation/PropertyList.h"

namespace appkit {
namespace {

using foundation::PlistValue;

std::optional<int> stateValue(const PlistValue& value) {
  if (auto flag = layoutBool(value)) return *flag ? Cell::On : Cell::Off;
  auto number = layoutNumber(value);
  if (!number || *number != static_cast<int>(*number)) return std::nullopt;
  return static_cast<int>(*number);
}

std::optional<ButtonCell::ButtonType> buttonTypeValue(const PlistValue& value) {
  const std::string* name = value.string();
  if (!name) return std::nullopt;
  if (*name == "switch") return ButtonCell::ButtonType::Switch;
  if (*name == "momentaryPushIn") return ButtonCell::ButtonType::MomentaryPushIn;
  if (*name == "momentaryLight") return ButtonCell::ButtonType::MomentaryLight;
  return std::nullopt;
}

std::optional<Key> keyEquivalentValue(const PlistValue& value) {
  const std::string* name = value.string();
  if (!name) return std::nullopt;
  if (*name == "return") return Key::Return;
  if (*name == "escape") return Key::Escape;
  return std::nullopt;
}

// A name ("rounded", "roundRect", ...) or the platform's number for it.
std::optional<ButtonCell::BezelStyle> bezelStyleValue(const PlistValue& value) {
  using Style = ButtonCell::BezelStyle;
  if (const std::string* name = value.string()) {
    if (*name == "rounded") return Style::Rounded;
    if (*name == "regularSquare") return Style::RegularSquare;
    if (*name == "shadowlessSquare") return Style::ShadowlessSquare;
    if (*name == "roundRect") return Style::RoundRect;
    return std::nullopt;
  }
  auto number = layoutNumber(value);
  if (!number) return std::nullopt;
  for (Style style :
       {Style::Rounded, Style::RegularSquare, Style::ShadowlessSquare, Style::RoundRect}) {
    if (*number == static_cast<int>(style)) return style;
  }
  return std::nullopt;
}

std::optional<TextAlignment> alignmentValue(const PlistValue& value) {
  const std::string* name = value.string();
  if (!name) return std::nullopt;
  if (*name == "left") return TextAlignment::Left;
  if (*name == "center") return TextAlignment::Center;
  if (*name == "right") return TextAlignment::Right;
  return std::nullopt;
}

// A size in points for the system font.
std::optional<Font> fontValue(const PlistValue& value) {
  auto size = layoutNumber(value);
  if (!size || *size <= 0 || *size > Font::kMaximumSize) return std::nullopt;
  return Font::systemFontOfSize(*size);
}

// The properties a control and a cell share, for a class T with the cell's accessors.
template <class T>
ClassBuilder<T>& addCellProperties(ClassBuilder<T>& builder) {
  return builder.property("title", layoutString, &T::setTitle)
      .property("enabled", layoutBool, &T::setEnabled)
      .property("state", stateValue, &T::setState);
}

// A property of the button cell that `cellOf` finds for an object of class T (the object itself,
// or a button's cell), read by `reader` and handed to `setter`; refused without a cell.
template <class T, class Reader, class C, class Arg>
auto buttonCellProperty(ButtonCell* (*cellOf)(T& self), Reader reader, void (C::*setter)(Arg)) {
  static_assert(std::is_base_of_v<C, ButtonCell>, "the setter is a method of the button cell");
  return [cellOf, reader, setter](T& self, const PlistValue& value) {
    auto read = reader(value);
    ButtonCell* cell = cellOf(self);
    if (!read || !cell) return false;
    (cell->*setter)(std::move(*read));
    return true;
  };
}

template <class T>
ClassBuilder<T>& addButtonCellProperties(ClassBuilder<T>& builder, ButtonCell* (*cellOf)(T& self)) {
  return builder
      .property("bezelStyle",
                buttonCellProperty(cellOf, bezelStyleValue, &ButtonCell::setBezelStyle))
      .property("buttonType",
                buttonCellProperty(cellOf, buttonTypeValue, &ButtonCell::setButtonType))
      .property("fontSize", buttonCellProperty(cellOf, fontValue, &ButtonCell::setFont))
      .property("backgroundColor",
                buttonCellProperty(cellOf, layoutColor, &ButtonCell::setBackgroundColor));
}

ClassDescription controlDescription() {
  ClassBuilder<Control> builder("NSControl", "NSView");
  addCellProperties(builder);
  ClassDescription description = builder.build();
  // A setter rather than a member: the control unhooks its previous cell.
  description.outlets["cell"] = [](Object& self, Object* target) {
    auto* control = dynamic_cast<Control*>(&self);
    auto* cell = dynamic_cast<Cell*>(target);
    if (!control || (target && !cell)) return false;
    control->setCell(cell);
    return true;
  };
  return description;
}

ClassDescription buttonDescription() {
  ClassBuilder<Button> builder("NSButton", "NSControl");
  addButtonCellProperties<Button>(builder, [](Button& self) { return self.buttonCell(); });
  builder.property("keyEquivalent", keyEquivalentValue, &Button::setKeyEquivalent);
  builder.attribute(
      "title", [](const Button& self) -> std::optional<PlistValue> { return self.title(); },
      [](Button& self, const PlistValue& value) {
        if (!value.string()) return false;
        self.setTitle(*value.string());
        return true;
      });
  builder.attribute(
      "value",
      [](const Button& self) -> std::optional<PlistValue> {
        return PlistValue(static_cast<std::int64_t>(self.state()));
      },
      [](Button& self, const PlistValue& value) {
        auto state = stateValue(value);
        if (!state) return false;
        self.setState(*state);
        return true;
      });
  return builder.build();
}

ClassDescription buttonCellDescription() {
  ClassBuilder<ButtonCell> builder("NSButtonCell");
  addCellProperties(builder);
  addButtonCellProperties<ButtonCell>(builder, [](ButtonCell& self) { return &self; });
  return builder.build();
}

ClassDescription textFieldDescription() {
  ClassBuilder<TextField> builder("NSTextField", "NSControl");
  builder.property("fontSize", fontValue, &TextField::setFont)
      .property("alignment", alignmentValue, &TextField::setAlignment)
      .property("textColor", layoutColor, &TextField::setTextColor)
      .property("drawsBackground", layoutBool, &TextField::setDrawsBackground)
      .property("backgroundColor", layoutColor, &TextField::setBackgroundColor)
      .property("stringValue", layoutString, &TextField::setStringValue);
  builder.attribute(
      "value",
      [](const TextField& self) -> std::optional<PlistValue> { return self.stringValue(); },
      [](TextField& self, const PlistValue& value) {
        if (!value.string()) return false;
        self.setStringValue(*value.string());
        return true;
      });
  return builder.build();
}

}  // namespace

void Control::registerLayoutClasses(ClassRegistry& registry) {
  registry.registerClass(controlDescription());
  registry.registerClass(buttonDescription());
  registry.registerClass(buttonCellDescription());
  registry.registerClass(textFieldDescription());
}

}  // namespace appkit
