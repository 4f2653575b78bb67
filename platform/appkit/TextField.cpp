#include "appkit/TextField.h"

#include <algorithm>

#include <cairo.h>

#include "appkit/GraphicsContext.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/TextLayout.h"
#include "appkit/accessibility/Accessibility.h"

namespace appkit {

TextField::TextField() : _font(Font::systemFontOfSize(Font::kSystemFontSize)) {}

TextField::TextField(Rect frame)
    : Control(frame), _font(Font::systemFontOfSize(Font::kSystemFontSize)) {}

TextField::~TextField() = default;

void TextField::setStringValue(std::string value) {
  APPKIT_ASSERT_MAIN_THREAD();
  AttributedString text(std::move(value), _font, _textColor);
  text.setAlignment(_alignment);
  setAttributedStringValue(std::move(text));
}

void TextField::setAttributedStringValue(std::optional<AttributedString> value) {
  APPKIT_ASSERT_MAIN_THREAD();
  AttributedString text = value ? std::move(*value) : AttributedString();
  if (text == _value) return;
  _value = std::move(text);
  valueChanged();
}

void TextField::setFont(const Font& font) {
  APPKIT_ASSERT_MAIN_THREAD();
  _font = font;
  _value.setFont(font, TextRange{0, _value.length()});
  valueChanged();
}

void TextField::setTextColor(const Color& color) {
  APPKIT_ASSERT_MAIN_THREAD();
  _textColor = color;
  _value.setForegroundColor(color, TextRange{0, _value.length()});
  valueChanged();
}

void TextField::setAlignment(TextAlignment alignment) {
  APPKIT_ASSERT_MAIN_THREAD();
  _alignment = alignment;
  _value.setAlignment(alignment);
  valueChanged();
}

void TextField::setDrawsBackground(bool draws) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (draws == _drawsBackground) return;
  _drawsBackground = draws;
  setNeedsDisplay(true);
}

void TextField::setBackgroundColor(const Color& color) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (color == _backgroundColor) return;
  _backgroundColor = color;
  if (_drawsBackground) setNeedsDisplay(true);
}

void TextField::valueChanged() {
  setNeedsDisplay(true);
  Accessibility::valueDidChange(*this);
}

void TextField::drawRect(Rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* context = GraphicsContext::current();
  if (!context) return;
  Rect bounds = this->bounds();
  if (_drawsBackground) {
    cairo_t* cairo = context->cairo();
    context->useColor(_backgroundColor);
    cairo_rectangle(cairo, bounds.minX(), bounds.minY(), bounds.size.width, bounds.size.height);
    cairo_fill(cairo);
  }
  Rect textRect = bounds.insetBy(kTextInset, kTextInset);
  if (_value.empty() || textRect.isEmpty()) return;
  if (!_layout) _layout = std::make_unique<TextLayout>();
  _layout->setText(_value);
  _layout->setWidth(textRect.size.width);
  _layout->drawInRect(textRect);
}

void TextField::mouseDown(const Event& event) { Responder::mouseDown(event); }

std::uint64_t TextField::textLayoutCount() const { return _layout ? _layout->buildCount() : 0; }

}  // namespace appkit
