#pragma once

#include <cairo.h>

#include <utility>

typedef struct _PangoAttrList PangoAttrList;
typedef struct _PangoContext PangoContext;
typedef struct _PangoFontDescription PangoFontDescription;
typedef struct _PangoLayout PangoLayout;

namespace appkit {

// Owns one reference to a cairo or pango object and gives it back with `Release` when it goes out
// of scope. Move-only; null stands for "none". Not thread-safe: one owner at a time.
template <typename T, void (*Release)(T*)>
class GraphicsHandle {
 public:
  GraphicsHandle() = default;
  // Takes over the reference the caller holds (a new object's, or one it took itself).
  explicit GraphicsHandle(T* object) : _object(object) {}
  ~GraphicsHandle() { reset(); }
  GraphicsHandle(const GraphicsHandle&) = delete;
  GraphicsHandle& operator=(const GraphicsHandle&) = delete;
  GraphicsHandle(GraphicsHandle&& other) noexcept : _object(other.release()) {}
  GraphicsHandle& operator=(GraphicsHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T* get() const { return _object; }
  explicit operator bool() const { return _object != nullptr; }

  // Gives back the reference held, if any, and takes `object`'s instead.
  void reset(T* object = nullptr) {
    if (T* old = std::exchange(_object, object)) Release(old);
  }
  // Gives up ownership: the caller gives the reference back.
  T* release() { return std::exchange(_object, nullptr); }

 private:
  T* _object = nullptr;
};

// The pango releases, defined with the text code that links pango.
void releasePangoAttrList(PangoAttrList* list);
void releasePangoContext(PangoContext* context);
void releasePangoFontDescription(PangoFontDescription* description);
void releasePangoLayout(PangoLayout* layout);

using CairoContext = GraphicsHandle<cairo_t, cairo_destroy>;
using CairoSurface = GraphicsHandle<cairo_surface_t, cairo_surface_destroy>;
using CairoPattern = GraphicsHandle<cairo_pattern_t, cairo_pattern_destroy>;
using CairoFontOptions = GraphicsHandle<cairo_font_options_t, cairo_font_options_destroy>;
using PangoAttrListHandle = GraphicsHandle<PangoAttrList, releasePangoAttrList>;
using PangoContextHandle = GraphicsHandle<PangoContext, releasePangoContext>;
using PangoFontDescriptionHandle =
    GraphicsHandle<PangoFontDescription, releasePangoFontDescription>;
using PangoLayoutHandle = GraphicsHandle<PangoLayout, releasePangoLayout>;

}  // namespace appkit
