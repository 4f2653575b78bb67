#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "appkit/WindowBackend.h"
#include "appkit/x11/X11Connection.h"

typedef struct _cairo cairo_t;

namespace appkit {

// A window of the X11 backend (see X11Backend). It keeps a reference to the last frame presented,
// so that the first pixels show the moment it is mapped. Main thread only.
class X11Window final : public BackendWindow {
 public:
  X11Window(std::shared_ptr<X11Connection> connection, Rect frame, double scale,
            BackendWindowClient& client);
  ~X11Window() override;

  void setFrame(Rect frame) override;
  void orderFront() override;
  void orderOut() override;
  void setLevel(int level) override;
  void setAlpha(double alpha) override;
  void setCursor(Cursor::Kind kind) override;
  void present(cairo_surface_t* frame, PixelRect damage) override;

  // Routes one event of this window to the client.
  void handle(const XEvent& event);
  // Raises the window again when shown: another top-level window was mapped or restacked.
  void keepAbove();

 private:
  bool usable() const { return _window && !_connection->lost; }
  // Paints `damage` (pixels, origin top left) of the last frame.
  void paint(int x, int y, int width, int height);
  // Cuts the pixels of alpha 0 of the last frame away, or restores the full shape when a
  // compositor runs.
  void updateShape();
  Point toPoints(int x, int y) const;
  void deliver(EventType type, int x, int y, int clickCount);

  std::shared_ptr<X11Connection> _connection;
  BackendWindowClient& _client;
  ::Window _window = 0;
  cairo_surface_t* _surface = nullptr;    // the window's own pixels
  cairo_surface_t* _lastFrame = nullptr;  // a reference to the frame last presented
  RootRect _place;
  bool _mapped = false;
  bool _shaped = false;
  std::vector<std::uint8_t> _shapeBits;
  double _scale;
  double _alpha = 1;
};

}  // namespace appkit
