#pragma once

#include <functional>
#include <memory>

#include "appkit/WindowBackend.h"

namespace appkit {

class X11Connection;

// The backend of an X11 display (also XWayland): each window is an override-redirect window,
// typed as a notification, that never takes the keyboard focus. Where a compositor runs it has a
// 32-bit ARGB visual and its alpha goes to the compositor as its opacity; where none runs it has
// the screen's plain visual and the transparent pixels of its frame are cut away with a shape
// mask, so that what lies below shows through them all the same; a compositor coming or going
// makes it again on the other kind. It shows only on the main monitor (what lies off it is cut
// away) and only while the screen is neither locked nor blanked; it stays above the ordinary
// windows but never rises over override-redirect ones (menus, lockers, other pop-ups).
//
// The main screen is the primary monitor (else the first, else the whole display); its visible
// frame leaves out the window manager's work area and the docks' struts. Its scale is GDK_SCALE
// when that is a positive whole number, else the settings manager's (XSETTINGS
// Gdk/WindowScalingFactor, Xft/DPI / 96; followed live), else the Xft.dpi resource / 96, at
// least 1.
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
  double mainScreenScale() const override;
  foundation::TimeInterval refreshInterval() const override;
  void prepare() override;
  std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                              BackendWindowClient& client) override;

  // Whether the connection broke.
  bool isConnectionLost() const;

 private:
  explicit X11Backend(std::shared_ptr<X11Connection> connection);
  std::shared_ptr<X11Connection> _connection;
};

}  // namespace appkit
