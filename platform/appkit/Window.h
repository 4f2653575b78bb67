#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "appkit/AnimatedWindow.h"
#include "appkit/Color.h"
#include "appkit/Geometry.h"
#include "appkit/GraphicsHandles.h"
#include "appkit/KeyboardFocus.h"
#include "appkit/PointerTracker.h"
#include "appkit/Responder.h"
#include "appkit/View.h"
#include "appkit/WindowBackend.h"
#include "foundation/Lifetime.h"

namespace appkit {

class ClassRegistry;
class Window;

// What Window::animator() answers: the window's setters, animated inside an animation group (see
// AnimationContext) and immediate outside one. A plain handle to the window; main thread only.
class WindowAnimator {
 public:
  void setFrame(Rect frame, bool display);
  void setAlphaValue(double alpha);

 private:
  friend class Window;
  WindowAnimator(Window& window, AnimatedWindow& animated) : _window(window), _animated(animated) {}
  Window& _window;
  AnimatedWindow& _animated;
};

// A borderless window of the window backend showing one view hierarchy, its content view.
//
// Pixels: the window draws into its own ARGB32 image surface of its size in device pixels (the
// frame's size in points times the backing scale, rounded to whole pixels). A frame clears the
// area to draw to the background colour (transparent when the window is not opaque and the colour
// is clear), draws the content view's hierarchy there with window points, y up, mapped to device
// pixels, and hands the frame to the backend. setNeedsDisplay on a view marks an area; every area
// marked before the next pass of the main run loop is drawn in one frame then.
//
// Events: a press goes to the deepest view under the pointer (mouseDown, which passes up the
// responder chain by default); drags and the release go to the view that took the press, wherever
// the pointer is. Pointer motion, tracking areas and the cursor: see PointerTracker.
//
// Snapshots: the window leaves a Snapshot of what it shows each time it comes to rest: on the
// pass after the window came on the screen when no animation of it runs, and after the last frame
// of an animation group that changed it (before the group's completion).
//
// Ownership: the content view is not owned (a layout or the caller owns it); a view that leaves
// the window, destroyed or removed, is forgotten at once. Main thread only.
class Window : public Responder,
               public ViewHost,
               private BackendWindowClient,
               private AnimatedWindow {
 public:
  // Stacking levels: a window stays above windows of lower levels.
  enum Level : int {
    NormalWindowLevel = 0,
    FloatingWindowLevel = 3,
    StatusWindowLevel = 25,
    PopUpMenuWindowLevel = 101,
  };

  // A window of the zero rect, for a layout to set up.
  Window();
  // A hidden window whose content (its whole area: it has no border) covers `contentRect`, in
  // screen points.
  explicit Window(Rect contentRect);
  ~Window() override;

  // In screen points, origin at the bottom left of the desktop.
  Rect frame() const;
  // Moves or resizes the window at once (stopping an animation of its frame); with `display` a
  // resized window draws at once instead of on the next pass.
  void setFrame(Rect frame, bool display);

  View* contentView() const;
  // Shows `view` (or nothing) filling the window, taking it from its superview; the previous
  // content view leaves the window.
  void setContentView(View* view);

  int level() const;
  void setLevel(int level);
  bool isOpaque() const;
  void setOpaque(bool opaque);
  // White at 0.93 unless set.
  Color backgroundColor() const;
  void setBackgroundColor(const Color& color);
  // 0 (invisible) to 1; other values are clamped. Stops an animation of the alpha value.
  double alphaValue() const;
  void setAlphaValue(double alpha);

  // Shows the window above the others of its level. The window never takes the keyboard focus
  // and never activates the application, so both calls do the same.
  void orderFront();
  void orderFrontRegardless();
  void orderOut();
  bool isVisible() const;
  // Whether the window is on the screen where a person can see it: visible, and not held back
  // by the window system (a screen lock, say).
  bool isOnScreen() const;
  // Runs `block` once, when the window next comes on the screen after orderFront: from inside
  // orderFront when it already is there or the backend shows it at once, else later (after a
  // screen lock, for one). orderOut before then drops it: a showing nobody saw runs nothing.
  void whenOnScreen(std::function<void()> block);

  // Draws the whole window now and presents it.
  void display();
  // Routes a mouse event (location in the window's points) as described above, and a key event
  // to the window's keyboard focus.
  void sendEvent(const Event& event);
  // The keyboard focus: whether the window has it and which view (see KeyboardFocus).
  KeyboardFocus& keyboard() { return _keyboard; }
  const KeyboardFocus& keyboard() const { return _keyboard; }
  // Asks the window system for the keyboard focus (for an assistive tool); a shown window only.
  void makeKeyWindow();
  // The device pixels per point of the window's surface (the screen's, once the window is made
  // in the window system).
  double backingScaleFactor();

  WindowAnimator animator();

  // Whether a layout's window is ordered front when the application has loaded its layout
  // (true unless the layout says otherwise).
  bool isVisibleAtLaunch() const;
  void setVisibleAtLaunch(bool visible);

  // The window's pixels (premultiplied ARGB32, the first row at the top), up to date after the
  // last frame drawn; owned by the window and replaced when its pixel size changes. Null before
  // the first frame. For tests and snapshots.
  cairo_surface_t* surface() const;
  // The backend's window (not owned by the caller), made at the first call, display, ordering
  // front or asking for the scale; null while no window can show.
  BackendWindow* backendWindow();

  // Registers the layout class "NSWindow" with `registry`.
  static void registerLayoutClasses(ClassRegistry& registry);
  // Asks the main thread, once per process, to set up as soon as it is free what the process's
  // first window would otherwise wait for before its first frame: the backend's drawing and the
  // fonts at the main screen's scale. Any thread; returns at once.
  static void prepareSoon();

  // ViewHost
  Window* hostWindow() override { return this; }
  void viewNeedsDisplay(Rect rectInWindow) override;
  void viewTrackingAreasChanged() override;
  void viewWillLeaveHost(View& view) override;

 private:
  // BackendWindowClient
  void backendMouseEvent(const Event& event) override;
  void backendExpose(Rect rect) override;
  void backendOnScreenChanged(bool onScreen) override;
  void backendScaleChanged(double scale, Rect frame) override;
  void backendKeyEvent(const Event& event) override;
  void backendKeyFocusChanged(bool focused) override;
  void runOnScreenBlocks();

  // AnimatedWindow
  Value animatedValue(Property property) const override;
  void setAnimatedValue(Property property, const Value& value) override;
  void presentFrame() override;
  void cameToRest() override;

  Rect bounds() const { return Rect{{0, 0}, _frame.size}; }
  BackendWindow* realizedBackend();
  void applyFrame(Rect frame);
  void applyAlpha(double alpha);
  void resizeSurface();
  void markDirty(Rect rect);
  void scheduleRedraw();
  void redraw();

  Rect _frame;
  int _level = NormalWindowLevel;
  bool _opaque = true;
  Color _backgroundColor;
  double _alpha = 1;
  bool _visible = false;
  bool _onScreen = false;
  std::vector<std::function<void()>> _onScreenBlocks;
  bool _visibleAtLaunch = true;
  double _scale = 1;
  View* _contentView = nullptr;
  KeyboardFocus _keyboard{*this};
  std::unique_ptr<BackendWindow> _backend;
  CairoSurface _surface;

  Rect _dirty;
  bool _redrawQueued = false;
  // Queued blocks watch it and do nothing once the window is gone.
  foundation::Lifetime _lifetime;

  View* _pressedView = nullptr;
  PointerTracker _pointer{*this};
};

}  // namespace appkit
