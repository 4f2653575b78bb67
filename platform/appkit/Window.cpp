#include "appkit/Window.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "appkit/AnimationContext.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistry.h"
#include "appkit/GraphicsContext.h"
#include "appkit/LayoutValues.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/RunLoop.h"
#include "appkit/Snapshot.h"
#include "appkit/TextLayout.h"
#include "appkit/WindowAnimations.h"
#include "appkit/accessibility/Accessibility.h"
#include "dispatch/MainQueue.h"
#include "foundation/PropertyList.h"

namespace appkit {
namespace {

// Cairo's limit on an image surface's side.
constexpr long kMaxPixels = 32767;

Rect unionOf(Rect a, Rect b) {
  if (a.isEmpty()) return b;
  if (b.isEmpty()) return a;
  double left = std::min(a.minX(), b.minX());
  double bottom = std::min(a.minY(), b.minY());
  double right = std::max(a.maxX(), b.maxX());
  double top = std::max(a.maxY(), b.maxY());
  return Rect::make(left, bottom, right - left, top - bottom);
}

long pixelLength(double points, double scale) {
  double pixels = std::round(points * scale);
  if (!(pixels > 0)) return 0;
  return static_cast<long>(std::min<double>(pixels, kMaxPixels));
}

Rect sanitized(Rect frame) {
  auto finite = [](double value) { return std::isfinite(value) ? value : 0.0; };
  return Rect::make(finite(frame.origin.x), finite(frame.origin.y),
                    std::max(0.0, finite(frame.size.width)),
                    std::max(0.0, finite(frame.size.height)));
}

WindowAnimations::Value valueOf(Rect frame) {
  return {frame.origin.x, frame.origin.y, frame.size.width, frame.size.height};
}

}  // namespace

void WindowAnimator::setFrame(Rect frame, bool display) {
  APPKIT_ASSERT_MAIN_THREAD();
  AnimationContext* context = AnimationContext::current();
  if (!context) {
    _window.setFrame(frame, display);
    return;
  }
  WindowAnimations::animate(*context, _animated, WindowAnimations::Property::Frame,
                            valueOf(sanitized(frame)));
}

void WindowAnimator::setAlphaValue(double alpha) {
  APPKIT_ASSERT_MAIN_THREAD();
  AnimationContext* context = AnimationContext::current();
  if (!context) {
    _window.setAlphaValue(alpha);
    return;
  }
  double clamped = alpha > 1 ? 1 : (alpha >= 0 ? alpha : 0);
  WindowAnimations::animate(*context, _animated, WindowAnimations::Property::Alpha,
                            {clamped, 0, 0, 0});
}

Window::Window() : Window(Rect{}) {}

Window::Window(Rect contentRect)
    : _frame(sanitized(contentRect)), _backgroundColor(Color::colorWithCalibratedWhite(0.93, 1)) {
  APPKIT_ASSERT_MAIN_THREAD();
}

BackendWindow* Window::realizedBackend() {
  if (_backend) return _backend.get();
  // Made when first needed, so that a process that never shows a window never opens the window
  // system; none while no window can show.
  WindowBackend& backend = WindowBackend::shared();
  if (!backend.showsWindows()) return nullptr;
  double scale = backend.mainScreenScale();
  _scale = scale > 0 ? scale : 1;
  _backend = backend.createWindow(_frame, _scale, *this);
  if (!_backend) return nullptr;
  _pointer.setBackendWindow(_backend.get());
  if (_level != NormalWindowLevel) _backend->setLevel(_level);
  if (_alpha != 1) _backend->setAlpha(_alpha);
  return _backend.get();
}

Window::~Window() {
  APPKIT_ASSERT_MAIN_THREAD();
  Accessibility::windowWillClose(*this);
  WindowAnimations::forget(*this);
  _lifetime.end();
  _pointer.releaseCursor();
  if (View* content = _contentView) {
    _contentView = nullptr;
    content->setNextResponder(nullptr);
    content->setHost(nullptr);
  }
  _pointer.setBackendWindow(nullptr);
  _backend.reset();
}

Rect Window::frame() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _frame;
}

void Window::setFrame(Rect frame, bool display) {
  APPKIT_ASSERT_MAIN_THREAD();
  WindowAnimations::cancel(*this, WindowAnimations::Property::Frame);
  applyFrame(frame);
  if (display && _visible && !_dirty.isEmpty()) redraw();
}

void Window::applyFrame(Rect frame) {
  frame = sanitized(frame);
  if (frame == _frame) return;
  bool resized = frame.size != _frame.size;
  _frame = frame;
  if (_backend) _backend->setFrame(frame);
  if (!resized) return;
  markDirty(bounds());
  if (_contentView) _contentView->setFrame(bounds());
  viewTrackingAreasChanged();
}

View* Window::contentView() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _contentView;
}

void Window::setContentView(View* view) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (view == _contentView) return;
  if (View* previous = _contentView) {
    _contentView = nullptr;
    previous->setNextResponder(nullptr);
    previous->setHost(nullptr);
  }
  if (view) {
    view->removeFromSuperview();
    view->setFrame(bounds());
    view->setHost(this);
    view->setNextResponder(this);
    _contentView = view;
  }
  markDirty(bounds());
  viewTrackingAreasChanged();
}

int Window::level() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _level;
}

void Window::setLevel(int level) {
  APPKIT_ASSERT_MAIN_THREAD();
  _level = level;
  if (_backend) _backend->setLevel(level);
}

bool Window::isOpaque() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _opaque;
}

void Window::setOpaque(bool opaque) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (opaque == _opaque) return;
  _opaque = opaque;
  markDirty(bounds());
}

Color Window::backgroundColor() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _backgroundColor;
}

void Window::setBackgroundColor(const Color& color) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (color == _backgroundColor) return;
  _backgroundColor = color;
  markDirty(bounds());
}

double Window::alphaValue() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _alpha;
}

void Window::setAlphaValue(double alpha) {
  APPKIT_ASSERT_MAIN_THREAD();
  WindowAnimations::cancel(*this, WindowAnimations::Property::Alpha);
  applyAlpha(alpha);
}

void Window::applyAlpha(double alpha) {
  alpha = alpha > 1 ? 1 : (alpha >= 0 ? alpha : 0);
  if (alpha == _alpha) return;
  _alpha = alpha;
  if (_backend) _backend->setAlpha(alpha);
}

void Window::orderFront() {
  APPKIT_ASSERT_MAIN_THREAD();
  bool wasVisible = _visible;
  _visible = true;
  realizedBackend();
  // Fonts are set up only once a window really comes on screen (a process that never shows one
  // keeps their memory), and before its first frame rather than during an animation.
  TextLayout::prepareFonts(_scale);
  // The whole window is drawn before it shows, so that it never shows stale or empty pixels.
  _dirty = bounds();
  redraw();
  // At rest on the pass after it came on the screen, unless what came on with it animates it.
  whenOnScreen([this, alive = _lifetime.watch()] {
    RunLoop::main().queue().async([this, alive] {
      if (alive.expired()) return;
      if (_visible && !WindowAnimations::isBusy(*this)) cameToRest();
    });
  });
  if (_backend) _backend->orderFront();
  if (!wasVisible) Accessibility::windowDidShow(*this);
  if (_onScreen) runOnScreenBlocks();
}

void Window::orderFrontRegardless() { orderFront(); }

void Window::prepareSoon() {
  static std::atomic<bool> s_asked{false};
  if (s_asked.exchange(true)) return;
  dispatch::MainQueue::shared().async([] {
    WindowBackend& backend = WindowBackend::shared();
    if (!backend.showsWindows()) {
      s_asked.store(false);  // asked again once a display answers
      return;
    }
    backend.prepare();
    TextLayout::prepareFonts(backend.mainScreenScale());
  });
}

void Window::orderOut() {
  APPKIT_ASSERT_MAIN_THREAD();
  _onScreenBlocks.clear();
  if (!_visible) return;
  _visible = false;
  if (_backend) _backend->orderOut();
  if (_pointer.isInside()) _pointer.moved(_pointer.location(), false);
  _keyboard.setActive(false);
  Accessibility::windowDidHide(*this);
}

bool Window::isVisible() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _visible;
}

bool Window::isOnScreen() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _visible && _onScreen;
}

void Window::whenOnScreen(std::function<void()> block) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (block) _onScreenBlocks.push_back(std::move(block));
}

void Window::backendOnScreenChanged(bool onScreen) {
  APPKIT_ASSERT_MAIN_THREAD();
  _onScreen = onScreen;
  if (onScreen && _visible) runOnScreenBlocks();
}

void Window::runOnScreenBlocks() {
  // Taken first: a block may ask for the next showing's.
  std::vector<std::function<void()>> blocks = std::move(_onScreenBlocks);
  _onScreenBlocks.clear();
  foundation::Lifetime::Watch alive = _lifetime.watch();
  for (auto& block : blocks) {
    if (alive.expired()) return;
    block();
  }
}

void Window::backendScaleChanged(double scale, Rect frame) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!(scale > 0)) return;
  _scale = scale;
  _frame = sanitized(frame);
  if (_visible) TextLayout::prepareFonts(_scale);
  // The surface is made anew at the new pixel size by this frame, drawn at once.
  _dirty = bounds();
  if (_visible) redraw();
}

void Window::display() {
  APPKIT_ASSERT_MAIN_THREAD();
  realizedBackend();
  _dirty = bounds();
  redraw();
}

double Window::backingScaleFactor() {
  APPKIT_ASSERT_MAIN_THREAD();
  realizedBackend();
  return _scale;
}

WindowAnimator Window::animator() {
  APPKIT_ASSERT_MAIN_THREAD();
  return WindowAnimator(*this, *this);
}

bool Window::isVisibleAtLaunch() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _visibleAtLaunch;
}

void Window::setVisibleAtLaunch(bool visible) {
  APPKIT_ASSERT_MAIN_THREAD();
  _visibleAtLaunch = visible;
}

cairo_surface_t* Window::surface() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _surface.get();
}

BackendWindow* Window::backendWindow() {
  APPKIT_ASSERT_MAIN_THREAD();
  return realizedBackend();
}

// Drawing

void Window::viewNeedsDisplay(Rect rectInWindow) {
  APPKIT_ASSERT_MAIN_THREAD();
  markDirty(rectInWindow);
}

void Window::markDirty(Rect rect) {
  rect = rect.intersection(bounds());
  if (rect.isEmpty()) return;
  _dirty = unionOf(_dirty, rect);
  scheduleRedraw();
}

void Window::scheduleRedraw() {
  if (!_visible || _redrawQueued) return;
  _redrawQueued = true;
  RunLoop::main().queue().async([this, alive = _lifetime.watch()] {
    if (alive.expired()) return;
    _redrawQueued = false;
    if (_visible && !_dirty.isEmpty()) redraw();
  });
}

void Window::resizeSurface() {
  long width = pixelLength(_frame.size.width, _scale);
  long height = pixelLength(_frame.size.height, _scale);
  if (_surface && cairo_image_surface_get_width(_surface.get()) == width &&
      cairo_image_surface_get_height(_surface.get()) == height)
    return;
  _surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height)));
  _dirty = bounds();
}

void Window::redraw() {
  resizeSurface();
  Rect dirty = _dirty.intersection(bounds());
  _dirty = Rect{};
  if (dirty.isEmpty() || cairo_surface_status(_surface.get()) != CAIRO_STATUS_SUCCESS) return;
  long width = cairo_image_surface_get_width(_surface.get());
  long height = cairo_image_surface_get_height(_surface.get());
  PixelRect damage = dirty.pixelRect(_scale);
  long left = std::clamp(damage.x, 0L, width);
  long bottom = std::clamp(damage.y, 0L, height);
  long right = std::clamp(damage.x + damage.width, 0L, width);
  long top = std::clamp(damage.y + damage.height, 0L, height);
  if (right <= left || top <= bottom) return;
  damage = PixelRect{left, bottom, right - left, top - bottom};

  CairoContext owned(cairo_create(_surface.get()));
  cairo_t* cairo = owned.get();
  // The damage in device space, whose rows count from the top.
  cairo_rectangle(cairo, double(left), double(height - top), double(right - left),
                  double(top - bottom));
  cairo_clip(cairo);
  Color::RGBA background = _backgroundColor.rgba();
  cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cairo, background.red, background.green, background.blue,
                        _opaque ? 1.0 : background.alpha);
  cairo_paint(cairo);
  cairo_set_operator(cairo, CAIRO_OPERATOR_OVER);
  // Window points, y up, to device pixels.
  cairo_translate(cairo, 0, double(height));
  cairo_scale(cairo, _scale, -_scale);
  if (_contentView) {
    GraphicsContext context(cairo, false);
    GraphicsContext::Scope scope(context);
    View* content = _contentView;
    content->displayRect(content->convertRectFromView(dirty, nullptr), context, false);
    _keyboard.drawRing();
  }
  owned.reset();
  cairo_surface_flush(_surface.get());
  if (_backend) _backend->present(_surface.get(), damage);
}

void Window::presentFrame() {
  if (!_dirty.isEmpty() || !_surface) {
    _dirty = bounds();
    redraw();
    return;
  }
  if (_backend) _backend->present(_surface.get(), Rect{{0, 0}, _frame.size}.pixelRect(_scale));
}

void Window::backendExpose(Rect rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  markDirty(rect);
}

// Animations

AnimatedWindow::Value Window::animatedValue(Property property) const {
  if (property == Property::Frame) return valueOf(_frame);
  return {_alpha, 0, 0, 0};
}

void Window::setAnimatedValue(Property property, const Value& value) {
  if (property == Property::Frame) {
    applyFrame(Rect::make(value[0], value[1], value[2], value[3]));
  } else {
    applyAlpha(value[0]);
  }
}

void Window::cameToRest() {
  if (!_visible || !Snapshot::enabled()) return;
  if (!_dirty.isEmpty() || !_surface) redraw();
  if (_surface) Snapshot::write(_surface.get(), _alpha, _contentView);
}

// Events

void Window::sendEvent(const Event& event) {
  APPKIT_ASSERT_MAIN_THREAD();
  Point location = event.locationInWindow;
  bool inside = bounds().contains(location);
  switch (event.type) {
    case EventType::MouseEntered:
      _pointer.moved(location, true);
      break;
    case EventType::MouseExited:
      _pointer.moved(location, false);
      break;
    case EventType::MouseMoved:
      _pointer.moved(location, inside);
      break;
    case EventType::LeftMouseDown: {
      _pointer.moved(location, inside);
      _pressedView = _contentView ? _contentView->hitTest(location) : nullptr;
      if (_pressedView) _pressedView->mouseDown(event);
      break;
    }
    case EventType::LeftMouseDragged:
      _pointer.moved(location, inside);
      if (_pressedView) _pressedView->mouseDragged(event);
      break;
    case EventType::LeftMouseUp: {
      _pointer.moved(location, inside);
      View* pressed = _pressedView;
      _pressedView = nullptr;
      if (pressed) pressed->mouseUp(event);
      break;
    }
    case EventType::KeyDown:
      _keyboard.keyDown(event);
      break;
  }
}

void Window::backendMouseEvent(const Event& event) { sendEvent(event); }

void Window::backendKeyEvent(const Event& event) { sendEvent(event); }

void Window::backendKeyFocusChanged(bool focused) {
  APPKIT_ASSERT_MAIN_THREAD();
  _keyboard.setActive(focused && _visible);
}

void Window::makeKeyWindow() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_visible && _backend) _backend->takeKeyFocus();
}

void Window::viewTrackingAreasChanged() {
  APPKIT_ASSERT_MAIN_THREAD();
  _pointer.areasChanged();
}

void Window::viewWillLeaveHost(View& view) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (&view == _contentView) _contentView = nullptr;
  if (&view == _pressedView) _pressedView = nullptr;
  _keyboard.viewWillLeave(view);
  _pointer.forget(view);
}

// Layout classes

namespace {

// A whole number of no more than nine digits.
std::optional<int> windowLevelValue(const foundation::PlistValue& value) {
  std::optional<double> level = layoutNumber(value);
  if (!level || *level != std::floor(*level) || std::abs(*level) > 1e9) return std::nullopt;
  return static_cast<int>(*level);
}

// A number from 0 to 1.
std::optional<double> unitIntervalValue(const foundation::PlistValue& value) {
  std::optional<double> alpha = layoutNumber(value);
  if (!alpha || *alpha < 0 || *alpha > 1) return std::nullopt;
  return alpha;
}

}  // namespace

void Window::registerLayoutClasses(ClassRegistry& registry) {
  ClassDescription window =
      ClassBuilder<Window>("NSWindow")
          .property("frame",
                    [](Window& window, const foundation::PlistValue& value) {
                      std::optional<Rect> frame = layoutRect(value);
                      if (frame) window.setFrame(*frame, false);
                      return frame.has_value();
                    })
          .property("level", windowLevelValue, &Window::setLevel)
          .property("opaque", layoutBool, &Window::setOpaque)
          .property("backgroundColor", layoutColor, &Window::setBackgroundColor)
          .property("alphaValue", unitIntervalValue, &Window::setAlphaValue)
          .property("visibleAtLaunch", layoutBool, &Window::setVisibleAtLaunch)
          .build();
  // The content view is set through setContentView, which hosts and sizes it.
  window.outlets["contentView"] = [](Object& self, Object* target) {
    auto* owner = dynamic_cast<Window*>(&self);
    auto* view = dynamic_cast<View*>(target);
    if (!owner || (target && !view)) return false;
    owner->setContentView(view);
    return true;
  };
  registry.registerClass(std::move(window));
}

}  // namespace appkit
