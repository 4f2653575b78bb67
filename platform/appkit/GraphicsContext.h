#pragma once

#include <vector>

#include "appkit/Color.h"

typedef struct _cairo cairo_t;

namespace appkit {

// The drawing destination of the moment: a cairo context (not owned) whose current transform maps
// the points of the view being drawn to device pixels, y growing upwards unless isFlipped(), plus
// the fill and stroke colours that Color::set() chooses. Drawing code (views, cells, paths,
// gradients, text) draws into GraphicsContext::current().
//
// Main thread only. The window makes a context current for the length of a frame (with Scope);
// saveGraphicsState()/restoreGraphicsState() save and restore the cairo state (transform, clip)
// together with the two colours, and must be balanced.
class GraphicsContext {
 public:
  // A context on `cairo` (which must outlive it); `flipped` says whether y grows downwards.
  GraphicsContext(cairo_t* cairo, bool flipped);
  GraphicsContext(const GraphicsContext&) = delete;
  GraphicsContext& operator=(const GraphicsContext&) = delete;

  // The current context, or null outside drawing.
  static GraphicsContext* current();

  // Makes `context` current for its own lifetime and restores the previous one after.
  class Scope {
   public:
    explicit Scope(GraphicsContext& context);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    GraphicsContext* _previous;
  };

  // On the current context; nothing happens without one.
  static void saveGraphicsState();
  static void restoreGraphicsState();

  cairo_t* cairo() const { return _cairo; }
  bool isFlipped() const { return _flipped; }
  // Set by the view drawing code as it enters a view (saved and restored with the state).
  void setFlipped(bool flipped) { _flipped = flipped; }

  const Color& fillColor() const { return _fill; }
  const Color& strokeColor() const { return _stroke; }
  void setFillColor(const Color& color) { _fill = color; }
  void setStrokeColor(const Color& color) { _stroke = color; }

  // Sets `color` as the cairo source (for a fill or a stroke about to be made).
  void useColor(const Color& color) const;

  void save();
  void restore();

 private:
  struct State {
    Color fill;
    Color stroke;
    bool flipped;
  };

  cairo_t* _cairo;
  bool _flipped;
  Color _fill = Color::blackColor();
  Color _stroke = Color::blackColor();
  std::vector<State> _saved;
};

}  // namespace appkit
