#pragma once

#include <functional>
#include <memory>

#include "appkit/WindowBackend.h"

namespace appkit {

struct X11Connection;

// The backend of an X11 display (also XWayland): each window is an override-redirect window of
// a 32-bit ARGB visual, typed as a notification and kept above the others, that never takes the
// keyboard focus. Where no compositor runs, the transparent pixels of a window's frame are cut
// away with a shape mask, so that what lies below shows through them all the same; where one
// runs, the window's alpha goes to it as the window's opacity.
//
// The main screen is the primary monitor (else the first, else the whole display); its scale is
// GDK_SCALE when that is a positive whole number, else the Xft.dpi resource / 96, at least 1.
//
// Events are read on the main run loop: the connection's descriptor is one of its sources, and
// what Xlib has read ahead is handed out before the loop sleeps; there is no thread and no timer
// of the backend's own. Main thread only.
class X11Backend final : public WindowBackend {
 public:
  // A backend on the display `name` (DISPLAY when null), or null when it does not open.
  // `onConnectionLost` is called once, from the main queue, if the connection breaks later; the
  // backend and its windows do nothing from then on.
  static std::unique_ptr<X11Backend> open(const char* name, std::function<void()> onConnectionLost);
  ~X11Backend() override;

  std::string name() const override { return "X11"; }
  ScreenDescription mainScreen() const override;
  foundation::TimeInterval refreshInterval() const override;
  std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                              BackendWindowClient& client) override;

  // Whether the connection broke.
  bool isConnectionLost() const;

 private:
  explicit X11Backend(std::shared_ptr<X11Connection> connection);
  std::shared_ptr<X11Connection> _connection;
};

}  // namespace appkit
