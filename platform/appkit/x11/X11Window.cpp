#include "appkit/x11/X11Window.h"

#include <cairo-xlib.h>
#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "appkit/MainThreadCheck.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

namespace appkit {
namespace {

// Without a compositor a pixel is either shown or cut: those at least half covered are shown.
bool isKept(std::uint32_t pixel) { return (pixel >> 24) >= 128; }

// A premultiplied pixel at full opacity, its colour divided by its coverage.
std::uint32_t opaque(std::uint32_t pixel) {
  std::uint32_t alpha = pixel >> 24;
  if (alpha == 255) return pixel;
  if (alpha == 0) return 0xFF000000u;
  auto channel = [&](int shift) {
    std::uint32_t value = (pixel >> shift & 0xFF) * 255 / alpha;
    return std::min<std::uint32_t>(value, 255) << shift;
  };
  return 0xFF000000u | channel(16) | channel(8) | channel(0);
}

}  // namespace

X11Window::X11Window(std::shared_ptr<X11Connection> connection, Rect frame, double scale,
                     BackendWindowClient& client)
    : _connection(std::move(connection)),
      _client(client),
      _frame(frame),
      _scale(scale > 0 ? scale : 1) {
  if (_connection->isLost()) return;
  _place = _connection->layout().toRoot(frame);
  build();
}

X11Window::~X11Window() {
  APPKIT_ASSERT_MAIN_THREAD();
  // Before the window they draw to goes.
  _surface.reset();
  _lastFrame.reset();
  if (_wanted) _connection->windowWanted(-1);
  if (!_window) return;
  _connection->removeWindow(_window);
  if (_connection->isLost()) return;
  if (_gc) XFreeGC(_connection->display(), _gc);
  XDestroyWindow(_connection->display(), _window);
  // Flushed now: no run loop pass may follow the last window.
  XFlush(_connection->display());
  _connection->noteLoss();
}

void X11Window::build() {
  X11Connection& x = *_connection;
  Display* display = x.display();
  bool argb = wantsArgb();
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.colormap = x.colormap(argb);
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | StructureNotifyMask | KeyPressMask |
                          FocusChangeMask;
  ::Window window = XCreateWindow(
      display, x.root(), _place.x, _place.y, unsigned(_place.width), unsigned(_place.height), 0,
      x.depth(argb), InputOutput, x.visual(argb),
      CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel | CWEventMask, &attributes);
  if (!window) return;
  x.addWindow(window, *this);

  Atom notification = x.atom(X11Connection::Name::Notification);
  Atom above = x.atom(X11Connection::Name::StateAbove);
  XChangeProperty(display, window, x.atom(X11Connection::Name::WindowType), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&notification), 1);
  XChangeProperty(display, window, x.atom(X11Connection::Name::State), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&above), 1);
  unsigned long pid = static_cast<unsigned long>(getpid());
  XChangeProperty(display, window, x.atom(X11Connection::Name::Pid), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  if (_alpha < 1) {
    unsigned long value = static_cast<unsigned long>(_alpha * double(0xFFFFFFFFu));
    XChangeProperty(display, window, x.atom(X11Connection::Name::Opacity), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value), 1);
  }
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display, window, &hints);
  XClassHint classHint{program_invocation_short_name, program_invocation_short_name};
  XSetClassHint(display, window, &classHint);
  XStoreName(display, window, program_invocation_short_name);
  XDefineCursor(display, window, x.cursor(_cursor));

  ::Window previous = _window;
  bool wasMapped = _mapped;
  _surface.reset();
  if (_gc) XFreeGC(display, _gc);
  _gc = XCreateGC(display, window, 0, nullptr);
  _window = window;
  _argb = argb;
  _surface.reset(
      cairo_xlib_surface_create(display, window, x.visual(argb), _place.width, _place.height));
  _shaped = false;
  _shapeBits.clear();
  _mapped = false;
  if (previous) {
    // The new window goes up before the old one goes, so that nothing flickers between them.
    if (wasMapped) sync();
    x.removeWindow(previous);
    XDestroyWindow(display, previous);
  }
}

void X11Window::setFrame(Rect frame) {
  APPKIT_ASSERT_MAIN_THREAD();
  _frame = frame;
  if (!usable()) return;
  RootRect place = _connection->layout().toRoot(frame);
  if (place == _place) return;
  bool resized = place.width != _place.width || place.height != _place.height;
  _place = place;
  Display* display = _connection->display();
  if (resized) {
    XMoveResizeWindow(display, _window, place.x, place.y, unsigned(place.width),
                      unsigned(place.height));
    cairo_xlib_surface_set_size(_surface.get(), place.width, place.height);
  } else {
    XMoveWindow(display, _window, place.x, place.y);
  }
  // The part on the main monitor changed.
  updateShape();
}

void X11Window::orderFront() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!usable()) return;
  if (!_wanted) {
    _wanted = true;
    _connection->windowWanted(+1);
  }
  if (_mapped) {
    _connection->keepAbove(_window);
    return;
  }
  sync();
}

void X11Window::orderOut() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!usable() || !_wanted) return;
  _wanted = false;
  sync();
  _connection->windowWanted(-1);
}

void X11Window::sync() {
  if (!usable()) return;
  bool shown = _wanted && !_connection->isLocked();
  Display* display = _connection->display();
  if (shown && !_mapped) {
    updateShape();
    XMapRaised(display, _window);
    _mapped = true;
    // The last frame shows at once; the exposure that follows draws it again.
    paint(0, 0, _place.width, _place.height);
  } else if (!shown && _mapped) {
    giveFocusBack();
    XUnmapWindow(display, _window);
    _mapped = false;
    if (_onScreen) {
      _onScreen = false;
      _client.backendOnScreenChanged(false);
    }
  }
}

void X11Window::lockChanged() { sync(); }

void X11Window::compositingChanged() {
  if (usable() && wantsArgb() != _argb) build();
}

void X11Window::scaleChanged() {
  if (!usable()) return;
  const Monitor& main = _connection->layout().main();
  double scale = _connection->layout().scale();
  // In points the screen grew or shrank: the window keeps its distance to the nearer side on
  // each axis (a pop-up at the top right stays there).
  auto keep = [](double start, double length, double before, double after) {
    double end = before - start - length;
    return end < start ? after - end - length : start;
  };
  Rect frame =
      Rect::make(keep(_frame.minX(), _frame.size.width, main.width / _scale, main.width / scale),
                 keep(_frame.minY(), _frame.size.height, main.height / _scale, main.height / scale),
                 _frame.size.width, _frame.size.height);
  _scale = scale;
  setFrame(frame);
  _client.backendScaleChanged(scale, frame);
}

void X11Window::setLevel(int) {
  // Every window of this backend is a notification above the ordinary ones; levels add nothing.
}

void X11Window::setAlpha(double alpha) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!usable() || alpha == _alpha) return;
  _alpha = std::clamp(alpha, 0.0, 1.0);
  Display* display = _connection->display();
  Atom opacity = _connection->atom(X11Connection::Name::Opacity);
  if (_alpha >= 1) {
    XDeleteProperty(display, _window, opacity);
  } else {
    // Read by a compositor; without one the window stays opaque.
    unsigned long value = static_cast<unsigned long>(_alpha * double(0xFFFFFFFFu));
    XChangeProperty(display, _window, opacity, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&value), 1);
  }
}

void X11Window::setCursor(Cursor::Kind kind) {
  APPKIT_ASSERT_MAIN_THREAD();
  _cursor = kind;
  if (usable()) XDefineCursor(_connection->display(), _window, _connection->cursor(kind));
}

void X11Window::present(cairo_surface_t* frame, PixelRect damage) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!usable() || !frame) return;
  if (frame != _lastFrame.get()) _lastFrame.reset(cairo_surface_reference(frame));
  updateShape();
  if (!_mapped) return;
  int height = cairo_image_surface_get_height(frame);
  paint(int(damage.x), int(height - damage.y - damage.height), int(damage.width),
        int(damage.height));
}

void X11Window::paint(int x, int y, int width, int height) {
  if (!_lastFrame || !_surface) return;
  cairo_surface_t* frame = _lastFrame.get();
  cairo_surface_flush(frame);
  int frameWidth = cairo_image_surface_get_width(frame);
  int frameHeight = cairo_image_surface_get_height(frame);
  int left = std::max(x, 0), top = std::max(y, 0);
  int right = std::min(x + width, frameWidth), bottom = std::min(y + height, frameHeight);
  if (right <= left || bottom <= top) return;
  cairo_surface_t* source = frame;
  CairoSurface opaqueCopy;
  if (!_argb) {
    // Nothing blends the window with what lies below: the edge pixels it keeps show their own
    // colour at full strength rather than darkened by their coverage.
    opaqueCopy.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, frameWidth, frameHeight));
    source = opaqueCopy.get();
    cairo_surface_flush(source);
    const unsigned char* from = cairo_image_surface_get_data(frame);
    unsigned char* to = cairo_image_surface_get_data(source);
    int fromStride = cairo_image_surface_get_stride(frame);
    int toStride = cairo_image_surface_get_stride(source);
    for (int row = top; row < bottom; ++row) {
      const auto* in = reinterpret_cast<const std::uint32_t*>(from + std::size_t(row) * fromStride);
      auto* out = reinterpret_cast<std::uint32_t*>(to + std::size_t(row) * toStride);
      for (int column = left; column < right; ++column) out[column] = opaque(in[column]);
    }
    cairo_surface_mark_dirty(source);
  }
  if (_gc && _connection->takesFramesAsTheyAre(_argb)) {
    // Put straight from the frame's memory: no copy into a shared-memory image, whose fresh pages
    // would keep the first frame of a process waiting.
    Display* display = _connection->display();
    XImage* image = XCreateImage(
        display, _connection->visual(_argb), _connection->depth(_argb), ZPixmap, 0,
        reinterpret_cast<char*>(cairo_image_surface_get_data(source)), unsigned(frameWidth),
        unsigned(frameHeight), 32, cairo_image_surface_get_stride(source));
    if (image) {
      image->byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
      XPutImage(display, _window, _gc, image, left, top, left, top, unsigned(right - left),
                unsigned(bottom - top));
      image->data = nullptr;  // the frame's, not the image's
      XDestroyImage(image);
      return;
    }
  }
  {
    CairoContext cairo(cairo_create(_surface.get()));
    cairo_set_operator(cairo.get(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cairo.get(), source, 0, 0);
    cairo_rectangle(cairo.get(), left, top, right - left, bottom - top);
    cairo_fill(cairo.get());
  }
  cairo_surface_flush(_surface.get());
}

void X11Window::updateShape() {
  Display* display = _connection->display();
  const Monitor& main = _connection->layout().main();
  // The main monitor in the window's pixels.
  int clipLeft = std::clamp(main.x - _place.x, 0, _place.width);
  int clipTop = std::clamp(main.y - _place.y, 0, _place.height);
  int clipRight = std::clamp(main.x + main.width - _place.x, 0, _place.width);
  int clipBottom = std::clamp(main.y + main.height - _place.y, 0, _place.height);
  bool clipped =
      clipLeft > 0 || clipTop > 0 || clipRight < _place.width || clipBottom < _place.height;
  bool byAlpha = !_argb && _lastFrame;
  if (!byAlpha && !clipped) {
    if (_shaped) {
      XShapeCombineMask(display, _window, ShapeBounding, 0, 0, None, ShapeSet);
      _shaped = false;
      _shapeBits.clear();
    }
    return;
  }
  const unsigned char* data = nullptr;
  int width = _place.width, height = _place.height, stride = 0;
  if (byAlpha) {
    cairo_surface_flush(_lastFrame.get());
    data = cairo_image_surface_get_data(_lastFrame.get());
    if (!data) return;
    width = std::min(width, cairo_image_surface_get_width(_lastFrame.get()));
    height = std::min(height, cairo_image_surface_get_height(_lastFrame.get()));
    stride = cairo_image_surface_get_stride(_lastFrame.get());
  }
  int rowBytes = (_place.width + 7) / 8;
  // One bit a pixel, least significant first, rows padded to whole bytes: a bitmap's layout.
  std::vector<std::uint8_t> bits(std::size_t(rowBytes) * std::size_t(_place.height), 0);
  for (int row = clipTop; row < std::min(clipBottom, height); ++row) {
    const auto* pixels =
        data ? reinterpret_cast<const std::uint32_t*>(data + std::size_t(row) * stride) : nullptr;
    std::uint8_t* out = bits.data() + std::size_t(row) * rowBytes;
    for (int column = clipLeft; column < std::min(clipRight, width); ++column) {
      if (!pixels || isKept(pixels[column])) out[column >> 3] |= std::uint8_t(1u << (column & 7));
    }
  }
  if (_shaped && bits == _shapeBits) return;
  Pixmap mask = XCreateBitmapFromData(display, _window, reinterpret_cast<const char*>(bits.data()),
                                      unsigned(_place.width), unsigned(_place.height));
  if (!mask) return;
  XShapeCombineMask(display, _window, ShapeBounding, 0, 0, mask, ShapeSet);
  XFreePixmap(display, mask);
  _shapeBits = std::move(bits);
  _shaped = true;
}

void X11Window::keepAbove() {
  if (_mapped && usable()) _connection->keepAbove(_window);
}

Point X11Window::toPoints(int x, int y) const {
  // The centre of the pixel, so that every pixel of the window lies inside its bounds.
  return Point{(x + 0.5) / _scale, (_place.height - y - 0.5) / _scale};
}

void X11Window::deliver(EventType type, int x, int y, int clickCount) {
  Event event;
  event.type = type;
  event.locationInWindow = toPoints(x, y);
  event.clickCount = clickCount;
  _client.backendMouseEvent(event);
}

void X11Window::takeKeyFocus() {
  APPKIT_ASSERT_MAIN_THREAD();
  takeFocusAt(CurrentTime);
}

void X11Window::takeFocusAt(Time time) {
  if (!usable() || !_mapped) return;
  Display* display = _connection->display();
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  if (focus == _window) return;
  _previousFocus = focus > PointerRoot ? focus : PointerRoot;
  XSetInputFocus(display, _window, RevertToPointerRoot, time);
}

void X11Window::giveFocusBack() {
  if (!_previousFocus) return;
  Display* display = _connection->display();
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  // Back where it was, unless that window went meanwhile (the error is then ignored and the
  // focus follows the pointer).
  if (focus == _window) XSetInputFocus(display, _previousFocus, RevertToPointerRoot, CurrentTime);
  _previousFocus = 0;
}

void X11Window::deliverKey(const XKeyEvent& event) {
  XKeyEvent copy = event;
  KeySym symbol = XLookupKeysym(&copy, 0);
  Key key;
  switch (symbol) {
    case XK_Tab:
    case XK_ISO_Left_Tab:
      key = Key::Tab;
      break;
    case XK_Return:
    case XK_KP_Enter:
      key = Key::Return;
      break;
    case XK_space:
    case XK_KP_Space:
      key = Key::Space;
      break;
    case XK_Escape:
      key = Key::Escape;
      break;
    default:
      return;
  }
  _client.backendKeyEvent(Event::keyDown(key, event.state & ShiftMask));
}

void X11Window::handle(const XEvent& event) {
  if (event.xany.window != _window) return;  // a window of ours made again meanwhile
  switch (event.type) {
    case MapNotify:
      // Now on the screen, unless unmapped again meanwhile.
      if (_mapped && !_onScreen) {
        _onScreen = true;
        _client.backendOnScreenChanged(true);
      }
      break;
    case Expose: {
      const XExposeEvent& expose = event.xexpose;
      Rect rect = Rect::make(expose.x / _scale, (_place.height - expose.y - expose.height) / _scale,
                             expose.width / _scale, expose.height / _scale);
      _client.backendExpose(rect);
      break;
    }
    case ButtonPress:
      // A person who clicks the window gives it the keyboard too.
      takeFocusAt(event.xbutton.time);
      if (event.xbutton.button == Button1)
        deliver(EventType::LeftMouseDown, event.xbutton.x, event.xbutton.y, 1);
      break;
    case KeyPress:
      deliverKey(event.xkey);
      break;
    case FocusIn:
    case FocusOut:
      // The focus following the pointer over the window is not given to it.
      if (event.xfocus.detail != NotifyPointer && event.xfocus.mode != NotifyGrab &&
          event.xfocus.mode != NotifyUngrab)
        _client.backendKeyFocusChanged(event.type == FocusIn);
      break;
    case ButtonRelease:
      if (event.xbutton.button == Button1)
        deliver(EventType::LeftMouseUp, event.xbutton.x, event.xbutton.y, 1);
      break;
    case MotionNotify:
      deliver(
          event.xmotion.state & Button1Mask ? EventType::LeftMouseDragged : EventType::MouseMoved,
          event.xmotion.x, event.xmotion.y, 0);
      break;
    case EnterNotify:
      deliver(EventType::MouseEntered, event.xcrossing.x, event.xcrossing.y, 0);
      break;
    case LeaveNotify:
      deliver(EventType::MouseExited, event.xcrossing.x, event.xcrossing.y, 0);
      break;
    default:
      break;
  }
}

}  // namespace appkit
