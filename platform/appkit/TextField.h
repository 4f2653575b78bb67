#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "appkit/AttributedString.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/Font.h"

namespace appkit {

class TextLayout;

// A control that shows text: a label or a message. Not editable. The text wraps to the field's
// width less a 2-point inset on each side and starts at the top; what does not fit is cut off.
//
// The value is an attributed string. setStringValue makes it from the plain string in the field's
// font, text colour and alignment, so attributedStringValue then carries those (a caller can add
// colours to parts of it and set it back). The text is laid out again only when it, its
// attributes or the width change. Main thread only.
class TextField : public Control {
 public:
  // The space between the field's edges and its text, in points.
  static constexpr double kTextInset = 2;

  TextField();
  explicit TextField(Rect frame);
  ~TextField() override;

  std::string stringValue() const { return _value.string(); }
  void setStringValue(std::string value);
  const AttributedString& attributedStringValue() const { return _value; }
  // Shows `value` with its own attributes; nullopt shows no text.
  void setAttributedStringValue(std::optional<AttributedString> value);

  // Setting the font, the colour or the alignment applies it to the whole current value too.
  const Font& font() const { return _font; }
  void setFont(const Font& font);
  const Color& textColor() const { return _textColor; }
  void setTextColor(const Color& color);
  TextAlignment alignment() const { return _alignment; }
  void setAlignment(TextAlignment alignment);

  bool drawsBackground() const { return _drawsBackground; }
  void setDrawsBackground(bool draws);
  // Painted behind the text when drawsBackground is on; white by default.
  const Color& backgroundColor() const { return _backgroundColor; }
  void setBackgroundColor(const Color& color);

  bool isEditable() const { return false; }
  // A label to a screen reader, read as its plain text; it takes no keyboard focus.
  bool acceptsFirstResponder() const override { return false; }
  AccessibilityRole accessibilityRole() const override { return AccessibilityRole::Label; }
  std::string accessibilityLabel() const override { return stringValue(); }

  void drawRect(Rect dirtyRect) override;
  // The text takes no clicks: presses go on to the next responder.
  void mouseDown(const Event& event) override;

  // How many times the text has been laid out (for tests of the cache).
  std::uint64_t textLayoutCount() const;

 private:
  void valueChanged();

  AttributedString _value;
  Font _font;
  Color _textColor = Color::blackColor();
  TextAlignment _alignment = TextAlignment::Left;
  bool _drawsBackground = false;
  Color _backgroundColor = Color::whiteColor();
  std::unique_ptr<TextLayout> _layout;
};

}  // namespace appkit
