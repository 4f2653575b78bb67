#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "appkit/GraphicsHandles.h"
#include "appkit/WindowBackend.h"
#include "appkit/x11/X11Connection.h"

namespace appkit {

// A window of the X11 backend (see X11Backend). It keeps a reference to the last frame presented,
// so that the first pixels show the moment it is mapped, and so that it can be made again on
// another visual when a compositor comes or goes. Main thread only.
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
  // Takes the keyboard focus, noting where it was, so that hiding the window gives it back.
  void takeKeyFocus() override;

  // Called by the connection:
  // routes one event of this window to the client;
  void handle(const XEvent& event);
  // another top-level window was mapped or restacked: it may cover this one;
  void keepAbove();
  // the screen was locked or came back;
  void lockChanged();
  // a compositor came or went: the window is made again on the visual that suits;
  void compositingChanged();
  // the display's scale changed.
  void scaleChanged();

 private:
  bool usable() const { return _window && !_connection->isLost(); }
  bool wantsArgb() const { return _connection->isComposited() && _connection->hasArgbVisual(); }
  // Makes the X window (and its surface) on the visual that suits now.
  void build();
  // Maps or unmaps the window as wanted and allowed (not while the screen is locked).
  void sync();
  // Paints `damage` (pixels, origin top left) of the last frame.
  void paint(int x, int y, int width, int height);
  // The window's shape: the pixels of alpha 0 of the last frame cut away where no compositor
  // runs, and everything off the main monitor cut away always.
  void updateShape();
  Point toPoints(int x, int y) const;
  void deliver(EventType type, int x, int y, int clickCount);
  void deliverKey(const XKeyEvent& event);
  void takeFocusAt(Time time);
  // Hands the focus back to the window that had it before, if this one still has it.
  void giveFocusBack();

  std::shared_ptr<X11Connection> _connection;
  BackendWindowClient& _client;
  ::Window _window = 0;
  bool _argb = false;
  CairoSurface _surface;    // the window's own pixels
  GC _gc = nullptr;         // for putting frames into the window
  CairoSurface _lastFrame;  // a reference to the frame last presented
  Rect _frame;
  RootRect _place;
  bool _wanted = false;  // ordered front and not out since
  bool _mapped = false;
  bool _onScreen = false;  // said to the client
  bool _shaped = false;
  std::vector<std::uint8_t> _shapeBits;
  double _scale;
  double _alpha = 1;
  Cursor::Kind _cursor = Cursor::Kind::Arrow;
  ::Window _previousFocus = 0;  // while the window holds a focus it took; 0 otherwise
};

}  // namespace appkit
