#include "appkit/TextLayout.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

#include "appkit/GraphicsContext.h"
#include "appkit/GraphicsHandles.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/PangoText.h"

namespace appkit {
namespace {

// Widths beyond this many points do not fit pango's integer units and wrap nothing anyway.
constexpr double kMaximumWidth = 1e6;

// Every layout build of the process, for benchmarks (main thread).
std::uint64_t s_totalBuildCount = 0;

// The font map of the main thread, made once and kept for the process.
PangoFontMap* fontMap() {
  static PangoFontMap* map = pango_cairo_font_map_new();
  return map;
}

// A pango context for one device: a transform (without its translation) and the font options of
// a target surface. Shared by every layout drawn to that device; never changed once made, so the
// layouts made on it stay valid.
class DeviceContexts {
 public:
  // The context for the device `cairo` draws to, with its current transform.
  PangoContext* forCairo(cairo_t* cairo) {
    cairo_matrix_t m;
    cairo_get_matrix(cairo, &m);
    CairoFontOptions options(cairo_font_options_create());
    cairo_surface_get_font_options(cairo_get_target(cairo), options.get());
    for (const Entry& entry : _entries) {
      if (entry.xx == m.xx && entry.yx == m.yx && entry.xy == m.xy && entry.yy == m.yy &&
          cairo_font_options_equal(entry.options.get(), options.get()))
        return entry.context.get();
    }
    PangoContextHandle context = makeContext();
    pango_cairo_update_context(cairo, context.get());
    PangoContext* made = context.get();
    remember(Entry{m.xx, m.yx, m.xy, m.yy, std::move(options), std::move(context)});
    return made;
  }

  // The context used before any drawing: one point to one device unit, default font options.
  PangoContext* unscaled() {
    if (!_unscaled) _unscaled = makeContext();
    return _unscaled.get();
  }

 private:
  struct Entry {
    double xx, yx, xy, yy;
    CairoFontOptions options;
    PangoContextHandle context;
  };
  // A handful of devices at a time; more means transforms in motion, whose contexts are let go.
  static constexpr std::size_t kCapacity = 8;

  static PangoContextHandle makeContext() {
    PangoContextHandle context(pango_font_map_create_context(fontMap()));
    CairoFontOptions options(cairo_font_options_create());
    // Unhinted metrics (an X11 screen asks for hinted ones): a size in points is the same at
    // every scale. Positions are not rounded to whole points, which at scale 2 would space glyphs
    // by whole pairs of pixels.
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context.get(), options.get());
    pango_context_set_round_glyph_positions(context.get(), FALSE);
    return context;
  }

  void remember(Entry entry) {
    // Layouts built on the context let go keep their own reference.
    if (_entries.size() == kCapacity) _entries.pop_front();
    _entries.push_back(std::move(entry));
  }

  std::deque<Entry> _entries;
  PangoContextHandle _unscaled;
};

DeviceContexts& deviceContexts() {
  static auto* contexts = new DeviceContexts;
  return *contexts;
}

guint16 channel(double component) {
  return static_cast<guint16>(std::lround(std::clamp(component, 0.0, 1.0) * 65535));
}

bool isHangul(gunichar c) {
  return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) ||
         (c >= 0x3130 && c <= 0x318F) || (c >= 0xA960 && c <= 0xA97F) ||
         (c >= 0xD7B0 && c <= 0xD7FF);
}

// Korean wraps between words, as its readers expect, not between syllables as the line-breaking
// rules allow: each word (a run without spaces) that holds Hangul is kept whole. `utf8` is valid.
void keepKoreanWordsWhole(const std::string& utf8, PangoAttrList* list) {
  const char* begin = utf8.data();
  const char* end = begin + utf8.size();
  const char* word = nullptr;
  bool hangul = false;
  auto close = [&](const char* at) {
    if (word && hangul) {
      PangoAttribute* attribute = pango_attr_allow_breaks_new(FALSE);
      attribute->start_index = static_cast<guint>(word - begin);
      attribute->end_index = static_cast<guint>(at - begin);
      pango_attr_list_insert(list, attribute);
    }
    word = nullptr;
    hangul = false;
  };
  for (const char* p = begin; p < end; p = g_utf8_next_char(p)) {
    gunichar c = g_utf8_get_char(p);
    if (g_unichar_isspace(c)) {
      close(p);
      continue;
    }
    if (!word) word = p;
    hangul = hangul || isHangul(c);
  }
  close(end);
}

// Pango's attributes for `text`, on byte offsets of its string.
PangoAttrListHandle attributesOf(const AttributedString& text) {
  PangoAttrListHandle owned(pango_attr_list_new());
  PangoAttrList* list = owned.get();
  keepKoreanWordsWhole(text.string(), list);
  auto insert = [&](PangoAttribute* attribute, const AttributedString::Run& run) {
    attribute->start_index = static_cast<guint>(run.utf8Begin);
    attribute->end_index = static_cast<guint>(run.utf8End);
    pango_attr_list_insert(list, attribute);
  };
  for (const AttributedString::Run& run : text.runs()) {
    if (run.foregroundColor) {
      Color::RGBA c = run.foregroundColor->rgba();
      insert(pango_attr_foreground_new(channel(c.red), channel(c.green), channel(c.blue)), run);
      // Pango reads an alpha of 0 as "unset", i.e. opaque: the least it can say is 1/65535.
      if (c.alpha < 1)
        insert(pango_attr_foreground_alpha_new(std::max<guint16>(channel(c.alpha), 1)), run);
    }
    if (run.font) insert(pango_attr_font_desc_new(FontAccess::pangoDescription(*run.font)), run);
  }
  return owned;
}

PangoAlignment pangoAlignment(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::Center:
      return PANGO_ALIGN_CENTER;
    case TextAlignment::Right:
      return PANGO_ALIGN_RIGHT;
    case TextAlignment::Left:
      break;
  }
  return PANGO_ALIGN_LEFT;
}

bool invertible(cairo_t* cairo) {
  cairo_matrix_t m;
  cairo_get_matrix(cairo, &m);
  double determinant = m.xx * m.yy - m.xy * m.yx;
  return std::isfinite(determinant) && determinant != 0;
}

}  // namespace

struct TextLayout::Pango {
  PangoLayoutHandle layout;
  PangoContext* context = nullptr;  // the layout's; referenced by it

  // Builds the layout of `owner` for `context` unless it is built for it already.
  void build(TextLayout& owner, PangoContext* newContext) {
    if (layout && context == newContext && !owner._dirty) return;
    if (context != newContext) {
      layout.reset(pango_layout_new(newContext));
      context = newContext;
    }
    const AttributedString& text = owner._text;
    static const Font systemFont = Font::systemFontOfSize(Font::kSystemFontSize);
    pango_layout_set_font_description(layout.get(), FontAccess::pangoDescription(systemFont));
    pango_layout_set_text(layout.get(), text.string().data(),
                          static_cast<int>(text.string().size()));
    pango_layout_set_attributes(layout.get(), attributesOf(text).get());
    pango_layout_set_alignment(layout.get(), pangoAlignment(text.alignment()));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    pango_layout_set_width(
        layout.get(),
        owner._width ? static_cast<int>(std::lround(*owner._width * PANGO_SCALE)) : -1);
    // Lay it out now, so that the cost is counted here and not at the first query.
    pango_layout_get_extents(layout.get(), nullptr, nullptr);
    owner._dirty = false;
    ++owner._buildCount;
    ++s_totalBuildCount;
  }
};

std::uint64_t TextLayout::totalBuildCount() { return s_totalBuildCount; }

void TextLayout::prepareFonts(double scale) {
  APPKIT_ASSERT_MAIN_THREAD();
  static bool s_prepared = false;
  if (s_prepared || !(scale > 0)) return;
  s_prepared = true;
  // Every printable ASCII character in the system font at the sizes of captions and messages, laid
  // out and drawn as a window would draw it (in points, y up, at the window's scale) onto a
  // surface that takes it whole: the glyphs are rendered and cached, not only their fonts loaded.
  std::string line;
  for (char c = ' '; c <= '~'; ++c) line += c;
  const double sizes[] = {12, Font::kSystemFontSize, 14};
  std::string text;
  for (std::size_t i = 0; i < std::size(sizes); ++i) text += (i ? "\n" : "") + line;
  AttributedString sample(text, Font::systemFontOfSize(sizes[0]), Color::blackColor());
  for (std::size_t i = 1; i < std::size(sizes); ++i)
    sample.setFont(Font::systemFontOfSize(sizes[i]), TextRange{i * (line.size() + 1), line.size()});
  const Size extent{1000, 80};
  CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                                  int(std::ceil(extent.width * scale)),
                                                  int(std::ceil(extent.height * scale))));
  CairoContext cairo(cairo_create(surface.get()));
  cairo_translate(cairo.get(), 0, std::ceil(extent.height * scale));
  cairo_scale(cairo.get(), scale, -scale);
  GraphicsContext context(cairo.get(), false);
  GraphicsContext::Scope scope(context);
  TextLayout layout;
  layout.setText(sample);
  layout.drawInRect(Rect{{0, 0}, extent});
}

TextLayout::TextLayout() = default;

TextLayout::~TextLayout() = default;

TextLayout::Pango& TextLayout::built(PangoContext* context) {
  if (!_pango) _pango = std::make_unique<Pango>();
  _pango->build(*this, context);
  return *_pango;
}

TextLayout::TextLayout(const TextLayout& other) : _text(other._text), _width(other._width) {}

TextLayout& TextLayout::operator=(const TextLayout& other) {
  if (this != &other) {
    setText(other._text);
    setWidth(other._width);
  }
  return *this;
}

TextLayout::TextLayout(TextLayout&& other) noexcept
    : _text(std::move(other._text)),
      _width(other._width),
      _dirty(other._dirty),
      _buildCount(other._buildCount),
      _pango(std::move(other._pango)) {}

TextLayout& TextLayout::operator=(TextLayout&& other) noexcept {
  if (this != &other) {
    _text = std::move(other._text);
    _width = other._width;
    _dirty = other._dirty;
    _buildCount = other._buildCount;
    _pango = std::move(other._pango);
  }
  return *this;
}

void TextLayout::setText(const AttributedString& text) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (text == _text) return;
  _text = text;
  _dirty = true;
}

void TextLayout::setWidth(std::optional<double> points) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (points) {
    if (!std::isfinite(*points)) {
      points.reset();
    } else {
      points = std::clamp(*points, 0.0, kMaximumWidth);
    }
  }
  if (points == _width) return;
  _width = points;
  _dirty = true;
}

namespace {

// Builds `pango` for the device of the current context when there is one (drawn upright, as
// draw() does), else for the device it was last built for, else for no scale at all.
PangoContext* contextForQueries(PangoContext* built) {
  if (GraphicsContext* gc = GraphicsContext::current()) {
    cairo_t* cairo = gc->cairo();
    if (cairo_status(cairo) == CAIRO_STATUS_SUCCESS && invertible(cairo)) {
      cairo_save(cairo);
      if (!gc->isFlipped()) cairo_scale(cairo, 1, -1);
      PangoContext* context = deviceContexts().forCairo(cairo);
      cairo_restore(cairo);
      return context;
    }
  }
  return built ? built : deviceContexts().unscaled();
}

}  // namespace

Size TextLayout::size() {
  APPKIT_ASSERT_MAIN_THREAD();
  Pango& pango = built(contextForQueries(_pango ? _pango->context : nullptr));
  PangoRectangle logical;
  pango_layout_get_extents(pango.layout.get(), nullptr, &logical);
  return Size{static_cast<double>(logical.width) / PANGO_SCALE,
              static_cast<double>(logical.height) / PANGO_SCALE};
}

double TextLayout::firstBaselineOffset() {
  APPKIT_ASSERT_MAIN_THREAD();
  Pango& pango = built(contextForQueries(_pango ? _pango->context : nullptr));
  return static_cast<double>(pango_layout_get_baseline(pango.layout.get())) / PANGO_SCALE;
}

int TextLayout::unknownGlyphsCount() {
  APPKIT_ASSERT_MAIN_THREAD();
  Pango& pango = built(contextForQueries(_pango ? _pango->context : nullptr));
  return pango_layout_get_unknown_glyphs_count(pango.layout.get());
}

void TextLayout::drawAt(Point topLeft) {
  APPKIT_ASSERT_MAIN_THREAD();
  draw(topLeft, nullptr);
}

void TextLayout::drawInRect(Rect rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc || rect.isEmpty()) return;
  draw(Point{rect.minX(), gc->isFlipped() ? rect.minY() : rect.maxY()}, &rect);
}

void TextLayout::draw(Point topLeft, const Rect* clip) {
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc) return;
  cairo_t* cairo = gc->cairo();
  if (cairo_status(cairo) != CAIRO_STATUS_SUCCESS || !invertible(cairo)) return;
  cairo_save(cairo);
  if (clip) {
    cairo_new_path(cairo);
    cairo_rectangle(cairo, clip->minX(), clip->minY(), clip->size.width, clip->size.height);
    cairo_clip(cairo);
  }
  // From here on the origin is the text's top-left corner and y grows downwards, as pango draws.
  cairo_translate(cairo, topLeft.x, topLeft.y);
  if (!gc->isFlipped()) cairo_scale(cairo, 1, -1);
  Pango& pango = built(deviceContexts().forCairo(cairo));
  if (clip) {
    // The lines are aligned within the text's own box, which is aligned within the rect.
    PangoRectangle logical;
    pango_layout_get_extents(pango.layout.get(), nullptr, &logical);
    double box = _width ? *_width : static_cast<double>(logical.width) / PANGO_SCALE;
    double room = clip->size.width - box;
    switch (_text.alignment()) {
      case TextAlignment::Center:
        cairo_translate(cairo, room / 2, 0);
        break;
      case TextAlignment::Right:
        cairo_translate(cairo, room, 0);
        break;
      case TextAlignment::Left:
        break;
    }
  }
  cairo_set_source_rgba(cairo, 0, 0, 0, 1);
  cairo_move_to(cairo, 0, 0);
  pango_cairo_show_layout(cairo, pango.layout.get());
  cairo_new_path(cairo);
  cairo_restore(cairo);
}

}  // namespace appkit

// What the sanitizers must not report of the uninstrumented font libraries the text is drawn
// with. The hooks live here, in the object file that every program drawing text links, because
// a linker would leave a file of their own out of the static library. Each is read by its
// sanitizer's runtime alone; builds without it never call them.

// Fontconfig links the parts of its patterns by offsets rather than pointers, so the leak checker
// takes the patterns that the font map keeps for the process for leaks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// Pango initialises fontconfig on a thread of its own while the main thread already asks it for
// fonts; fontconfig guards its configuration with atomics that the thread sanitizer cannot see in
// an uninstrumented library. Reports from inside fontconfig are left out.
// Once the X connection is lost and the backend's exit handler returns (so that the application
// can end cleanly), Xlib unlocks the display's lock once more than it locked it on its way out of
// the call that found the loss. Mutex reports from inside Xlib are left out.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libfontconfig.so\n"
         "mutex:libX11.so\n";
}
