#include "appkit/GraphicsContext.h"

#include <cairo.h>

#include "appkit/MainThreadCheck.h"

namespace appkit {
namespace {

GraphicsContext* s_current = nullptr;

}  // namespace

GraphicsContext::GraphicsContext(cairo_t* cairo, bool flipped) : _cairo(cairo), _flipped(flipped) {}

GraphicsContext* GraphicsContext::current() {
  APPKIT_ASSERT_MAIN_THREAD();
  return s_current;
}

GraphicsContext::Scope::Scope(GraphicsContext& context) : _previous(s_current) {
  APPKIT_ASSERT_MAIN_THREAD();
  s_current = &context;
}

GraphicsContext::Scope::~Scope() { s_current = _previous; }

void GraphicsContext::saveGraphicsState() {
  if (GraphicsContext* context = current()) context->save();
}

void GraphicsContext::restoreGraphicsState() {
  if (GraphicsContext* context = current()) context->restore();
}

void GraphicsContext::useColor(const Color& color) const {
  Color::RGBA c = color.rgba();
  cairo_set_source_rgba(_cairo, c.red, c.green, c.blue, c.alpha);
}

void GraphicsContext::save() {
  cairo_save(_cairo);
  _saved.push_back(State{_fill, _stroke, _flipped});
}

void GraphicsContext::restore() {
  // An unbalanced restore is a programming fault; ignoring it keeps the frame's state intact.
  if (_saved.empty()) return;
  cairo_restore(_cairo);
  _fill = _saved.back().fill;
  _stroke = _saved.back().stroke;
  _flipped = _saved.back().flipped;
  _saved.pop_back();
}

}  // namespace appkit
