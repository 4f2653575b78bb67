#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "appkit/AttributedString.h"
#include "appkit/Geometry.h"

typedef struct _PangoContext PangoContext;

namespace appkit {

// One piece of text laid out for showing, owned by whatever shows it (a cell, a text field) and
// kept from frame to frame: the layout is built only when the text, the wrapping width or the
// device it is drawn to (transform scale, font options) changed.
//
// Sizes are in points and do not depend on the device scale (glyph metrics are not hinted), while
// glyphs are rendered for the real device transform, so text is sharp at a backing scale of 2.
// Drawing goes to GraphicsContext::current() and comes out upright whether that context is
// flipped or not.
//
// Main thread only. Copying copies the text and width; the copy builds its own layout when used.
class TextLayout {
 public:
  TextLayout();
  ~TextLayout();
  TextLayout(const TextLayout& other);
  TextLayout& operator=(const TextLayout& other);
  TextLayout(TextLayout&& other) noexcept;
  TextLayout& operator=(TextLayout&& other) noexcept;

  // Text equal to the current one keeps the built layout.
  void setText(const AttributedString& text);
  const AttributedString& text() const { return _text; }

  // Wraps lines, at word boundaries or else between characters, to `points`; nullopt lays out
  // one line per paragraph. A negative width counts as 0, a non-finite one as none.
  void setWidth(std::optional<double> points);
  std::optional<double> width() const { return _width; }

  // The size the text takes: the widest line by the height of all lines. Laid out for the device
  // of the current graphics context when there is one, else for the device last drawn to.
  Size size();
  // The distance in points from the top of the text to the baseline of its first line.
  double firstBaselineOffset();
  // How many characters no installed font can show (each would draw as a missing-glyph box).
  int unknownGlyphsCount();

  // Draws the text with its top-left corner at `topLeft`, in the current context's coordinates.
  // Nothing happens without a current context.
  void drawAt(Point topLeft);
  // Draws the text from the top-left corner of `rect` as the view sees it (the top is maxY, or
  // minY in a flipped context), its lines aligned within the rect's width by the text's
  // alignment, and clipped to the rect.
  void drawInRect(Rect rect);

  // How many times the layout has been built: for tests and benchmarks of the cache.
  std::uint64_t buildCount() const { return _buildCount; }
  // How many times any layout of the process has been built (main thread).
  static std::uint64_t totalBuildCount();

  // Sets up, once per process, what the first text drawn at `scale` would otherwise wait for:
  // the font configuration, the font map and the system font at the sizes windows use. Main
  // thread; later calls do nothing.
  static void prepareFonts(double scale);

 private:
  struct Pango;
  // The layout, made when first needed and built for `context`.
  Pango& built(PangoContext* context);
  void draw(Point topLeft, const Rect* clip);

  AttributedString _text;
  std::optional<double> _width;
  bool _dirty = true;
  std::uint64_t _buildCount = 0;
  // The built layout and the context it was built for; null until built.
  std::unique_ptr<Pango> _pango;
};

}  // namespace appkit
