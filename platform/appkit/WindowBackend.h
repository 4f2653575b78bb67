#pragma once

#include <memory>
#include <string>

#include "appkit/Cursor.h"
#include "appkit/Event.h"
#include "appkit/Geometry.h"
#include "foundation/TimeInterval.h"

typedef struct _cairo_surface cairo_surface_t;

namespace appkit {

// The one interface between the portable window code and a window system. A backend is chosen
// once per process (see WindowBackend::shared()); the portable side owns each window's pixels in
// an image surface and hands finished frames to the backend.
//
// Threads: everything here belongs to the main thread. A backend delivers window-system events
// (pointer, exposure) to its windows' clients on the main thread, from the main run loop: through
// a descriptor it registered with RunLoop::main() or a block on the main queue, never by polling.

// The main screen, in points with the origin at the bottom left of the whole desktop.
struct ScreenDescription {
  Rect frame;
  Rect visibleFrame;
  double backingScaleFactor = 1;
};

// What a backend window reports to the portable window that owns it.
class BackendWindowClient {
 public:
  virtual ~BackendWindowClient() = default;
  // A pointer event; its location is in the window's points (origin at its bottom left).
  // Entered/exited here mean the pointer entering or leaving the whole window.
  virtual void backendMouseEvent(const Event& event) = 0;
  // `rect` (window points) must be presented again (it was uncovered).
  virtual void backendExpose(Rect rect) = 0;
  // The window came on the screen where a person can see it (true), or left it (false). After
  // orderFront this may come at once (from inside orderFront), later (once the window system has
  // shown it; once a screen lock ends), or not at all before orderOut; a lock that begins while
  // the window shows takes it off the screen (false) until it ends (true again).
  virtual void backendOnScreenChanged(bool onScreen) = 0;
  // The display's device pixels per point changed to `scale`, and with it the screen's size in
  // points: the window now has `frame` (screen points), kept as far from the main screen's nearer
  // edges as it was. Frames are presented at the new scale from now on.
  virtual void backendScaleChanged(double scale, Rect frame) = 0;
  // A key pressed while the window has the keyboard focus, and the focus coming or going.
  virtual void backendKeyEvent(const Event&) {}
  virtual void backendKeyFocusChanged(bool) {}
};

// One window of the window system.
class BackendWindow {
 public:
  virtual ~BackendWindow() = default;
  // Moves or resizes the window to `frame` (screen points).
  virtual void setFrame(Rect frame) = 0;
  // Shows the window above the others, without taking the keyboard focus or activating anything.
  virtual void orderFront() = 0;
  virtual void orderOut() = 0;
  // The stacking level (Window::Level): a window of a higher level stays above those of lower.
  virtual void setLevel(int level) = 0;
  virtual void setAlpha(double alpha) = 0;
  virtual void setCursor(Cursor::Kind kind) = 0;
  // Shows `damage` (device pixels, origin at the bottom left) of `frame`: an ARGB32 premultiplied
  // image surface of the window's size in device pixels, drawn by the portable side.
  virtual void present(cairo_surface_t* frame, PixelRect damage) = 0;
  // Gives the shown window the keyboard focus, for a person who asked for it (through an assistive
  // tool); backendKeyFocusChanged follows. The default cannot.
  virtual void takeKeyFocus() {}
};

class WindowBackend {
 public:
  virtual ~WindowBackend() = default;

  // The process's backend, chosen at first use by WindowBackendChoice and said in the log; one
  // that shows no windows is chosen again once a display has answered since. Main thread.
  static WindowBackend& shared();
  // Replaces the shared backend (tests); null restores the choice at next use. Main thread.
  static void setSharedForTesting(std::unique_ptr<WindowBackend> backend);

  virtual std::string name() const = 0;
  // False for the backend of no display: its windows would show nobody anything.
  virtual bool showsWindows() const { return true; }
  virtual ScreenDescription mainScreen() const = 0;
  // The main screen's backingScaleFactor, which a backend may know without asking the display.
  virtual double mainScreenScale() const { return mainScreen().backingScaleFactor; }
  // The time between two frames of the display (animation steps).
  virtual foundation::TimeInterval refreshInterval() const = 0;
  // Sets up, ahead, what the process's first window would otherwise wait for. Main thread.
  virtual void prepare() {}
  // A window of `frame` (screen points) at `scale`, hidden, or null when none can be made; it
  // reports to `client`, which must outlive it.
  virtual std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                                      BackendWindowClient& client) = 0;
};

}  // namespace appkit
