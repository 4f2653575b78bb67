#pragma once

#include <cstdint>
#include <memory>

#include "appkit/GraphicsContext.h"
#include "appkit/GraphicsHandles.h"

namespace testing_support {

// An ARGB32 image of `widthPoints` by `heightPoints` points at `scale` pixels per point, made the
// current graphics context for the canvas's lifetime. Unflipped, the origin is the bottom-left
// corner and y grows upwards, as in a view; flipped, the origin is the top-left corner.
class Canvas {
 public:
  struct Pixel {
    int red, green, blue, alpha;  // premultiplied, 0…255
  };

  Canvas(int widthPoints, int heightPoints, double scale, bool flipped)
      : _width(static_cast<int>(widthPoints * scale)),
        _height(static_cast<int>(heightPoints * scale)),
        _surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, _width, _height)),
        _cairo(cairo_create(_surface.get())) {
    if (flipped) {
      cairo_scale(_cairo.get(), scale, scale);
    } else {
      cairo_translate(_cairo.get(), 0, _height);
      cairo_scale(_cairo.get(), scale, -scale);
    }
    _context = std::make_unique<appkit::GraphicsContext>(_cairo.get(), flipped);
    _scope = std::make_unique<appkit::GraphicsContext::Scope>(*_context);
  }
  ~Canvas() {
    _scope.reset();
    _context.reset();
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int width() const { return _width; }
  int height() const { return _height; }
  cairo_t* cairo() const { return _cairo.get(); }

  // The device pixel in column `x` of row `y`, row 0 at the top of the image.
  Pixel at(int x, int y) const {
    cairo_surface_flush(_surface.get());
    const unsigned char* row = cairo_image_surface_get_data(_surface.get()) +
                               y * cairo_image_surface_get_stride(_surface.get());
    std::uint32_t v = reinterpret_cast<const std::uint32_t*>(row)[x];
    return Pixel{int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF), int(v >> 24)};
  }

  // For looking at by hand while a test is written.
  void writePng(const char* path) const { cairo_surface_write_to_png(_surface.get(), path); }

 private:
  int _width, _height;
  appkit::CairoSurface _surface;
  appkit::CairoContext _cairo;
  std::unique_ptr<appkit::GraphicsContext> _context;
  std::unique_ptr<appkit::GraphicsContext::Scope> _scope;
};

}  // namespace testing_support
