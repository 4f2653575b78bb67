#include "support/VirtualDisplay.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "support/Deadline.h"
#include "support/Subprocess.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace testing_support {
namespace {

constexpr const char* kServer = "/usr/bin/Xvfb";
constexpr const char* kWindowManager = "/usr/bin/openbox";
constexpr const char* kCompositor = "/usr/bin/xcompmgr";
constexpr const char* kLocker = "/usr/bin/i3lock";
constexpr const char* kXrandr = "/usr/bin/xrandr";
constexpr double kStartSeconds = 10;

// Reads the display number Xvfb writes to `fd` once it is ready; empty on time-out or end.
std::string readDisplayNumber(int fd) {
  std::string text;
  Deadline deadline(kStartSeconds);
  while (text.find('\n') == std::string::npos && !deadline.passed()) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, deadline.millisecondsLeft()) <= 0) break;
    char buffer[32];
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    text.append(buffer, std::size_t(count));
  }
  if (text.find('\n') == std::string::npos) return {};
  return text.substr(0, text.find('\n'));
}

bool windowManagerRuns(Display* display) {
  Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                     &format, &count, &after, &data);
  if (data) XFree(data);
  return count == 1;
}

}  // namespace

VirtualDisplay::VirtualDisplay(Options options) {
  if (access(kServer, X_OK) != 0) {
    _why = "Xvfb is not installed";
    return;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    _why = "no pipe";
    return;
  }
  // The write end goes to the server as its descriptor 3, where it writes its display number.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string geometry = std::to_string(options.width) + "x" + std::to_string(options.height) +
                         "x" + std::to_string(options.depth);
  std::vector<std::string> args = {kServer,  "-displayfd", "3",   "-screen", "0",
                                   geometry, "-nolisten",  "tcp", "-noreset"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int spawned = posix_spawn(&_server, kServer, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    _server = -1;
    close(fds[0]);
    _why = std::string("Xvfb does not start: ") + std::strerror(spawned);
    return;
  }
  std::string number = readDisplayNumber(fds[0]);
  close(fds[0]);
  if (number.empty()) {
    _why = "Xvfb did not report a display";
    return;
  }
  _name = ":" + number;
  _connection = XOpenDisplay(_name.c_str());
  if (!_connection) {
    _why = "the display " + _name + " does not open";
    return;
  }
  if (options.windowManager) {
    if (access(kWindowManager, X_OK) != 0) {
      _why = "openbox is not installed";
      XCloseDisplay(_connection);
      _connection = nullptr;
      return;
    }
    _windowManager = std::make_unique<Subprocess>(
        std::vector<std::string>{kWindowManager},
        ChildOptions{.environment = {"DISPLAY=" + _name}, .output = ChildOutput::Discarded});
    Deadline deadline(kStartSeconds);
    while (!windowManagerRuns(_connection) && !deadline.passed()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!windowManagerRuns(_connection)) ADD_FAILURE() << "openbox did not start";
  }
}

VirtualDisplay::~VirtualDisplay() { killServer(); }

void VirtualDisplay::killServer() {
  if (_server <= 0) return;
  continueServer();
  // The test's own connection goes first: Xlib ends a process whose connection breaks.
  _locker.reset();
  _compositor.reset();
  _windowManager.reset();
  if (_connection) XCloseDisplay(_connection);
  _connection = nullptr;
  kill(_server, SIGKILL);
  waitForChild(_server, 10);
  _server = -1;
}

void VirtualDisplay::stopServer() {
  if (_server > 0 && !_stopped) _stopped = kill(_server, SIGSTOP) == 0;
}

void VirtualDisplay::continueServer() {
  if (_stopped) kill(_server, SIGCONT);
  _stopped = false;
}

void VirtualDisplay::setDesktopColor(std::uint32_t rgb) {
  Window root = DefaultRootWindow(_connection);
  XSetWindowBackground(_connection, root, rgb);
  XClearWindow(_connection, root);
  XSync(_connection, False);
}

appkit::CairoSurface VirtualDisplay::screenshot() const {
  return screenshot(0, 0, DisplayWidth(_connection, DefaultScreen(_connection)),
                    DisplayHeight(_connection, DefaultScreen(_connection)));
}

appkit::CairoSurface VirtualDisplay::screenshot(int left, int top, int width, int height) const {
  Window root = DefaultRootWindow(_connection);
  appkit::CairoSurface owned(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
  cairo_surface_t* image = owned.get();
  XImage* shot = XGetImage(_connection, root, left, top, unsigned(width), unsigned(height),
                           AllPlanes, ZPixmap);
  if (!shot) return owned;
  unsigned char* data = cairo_image_surface_get_data(image);
  int stride = cairo_image_surface_get_stride(image);
  // Each channel scaled from its mask to 8 bits (a 16-bit display's 5 and 6).
  auto channel = [](unsigned long pixel, unsigned long mask) -> std::uint32_t {
    if (!mask) return 0;
    int shift = __builtin_ctzl(mask);
    unsigned long most = mask >> shift;
    return std::uint32_t(((pixel & mask) >> shift) * 255 / most);
  };
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) {
      unsigned long pixel = XGetPixel(shot, x, y);
      row[x] = channel(pixel, shot->red_mask) << 16 | channel(pixel, shot->green_mask) << 8 |
               channel(pixel, shot->blue_mask);
    }
  }
  XDestroyImage(shot);
  cairo_surface_mark_dirty(image);
  return owned;
}

std::uint32_t VirtualDisplay::rgbAt(cairo_surface_t* image, int x, int y) {
  cairo_surface_flush(image);
  const unsigned char* row =
      cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
  std::uint32_t value;
  std::memcpy(&value, row + x * 4, sizeof value);
  return value & 0xFFFFFF;
}

bool VirtualDisplay::awaitScreen(const std::function<bool(cairo_surface_t*)>& holds,
                                 double seconds) const {
  return eventually(
      [&] {
        appkit::CairoSurface shot = screenshot();
        bool held = holds(shot.get());
        return held;
      },
      seconds);
}

bool VirtualDisplay::startCompositor() {
  if (access(kCompositor, X_OK) != 0) {
    _why = "xcompmgr is not installed";
    return false;
  }
  Atom selection = XInternAtom(_connection, "_NET_WM_CM_S0", False);
  _compositor = std::make_unique<Subprocess>(
      std::vector<std::string>{kCompositor},
      ChildOptions{.environment = {"DISPLAY=" + _name}, .output = ChildOutput::Discarded});
  if (eventually([&] { return XGetSelectionOwner(_connection, selection) != None; }, kStartSeconds))
    return true;
  _why = "xcompmgr did not take the compositor selection";
  return false;
}

void VirtualDisplay::stopCompositor() {
  _compositor.reset();
  Atom selection = XInternAtom(_connection, "_NET_WM_CM_S0", False);
  if (!eventually([&] { return XGetSelectionOwner(_connection, selection) == None; },
                  kStartSeconds))
    ADD_FAILURE() << "the compositor selection stays owned";
}

namespace {

// Whether a mapped override-redirect window covers the whole screen.
bool screenCovered(Display* display) {
  Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned int count = 0;
  bool covered = false;
  if (XQueryTree(display, root, &root, &parent, &children, &count) && children) {
    for (unsigned int i = 0; i < count && !covered; ++i) {
      XWindowAttributes attributes{};
      covered = XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.override_redirect && attributes.map_state == IsViewable &&
                attributes.x <= 0 && attributes.y <= 0 &&
                attributes.width >= DisplayWidth(display, DefaultScreen(display)) &&
                attributes.height >= DisplayHeight(display, DefaultScreen(display));
    }
  }
  if (children) XFree(children);
  return covered;
}

}  // namespace

bool VirtualDisplay::lock(std::uint32_t rgb) {
  if (access(kLocker, X_OK) != 0) {
    _why = "i3lock is not installed";
    return false;
  }
  char colour[8];
  std::snprintf(colour, sizeof colour, "%06x", rgb & 0xFFFFFF);
  _locker = std::make_unique<Subprocess>(
      std::vector<std::string>{kLocker, "-n", "-c", colour},
      ChildOptions{.environment = {"DISPLAY=" + _name}, .output = ChildOutput::Discarded});
  if (eventually([&] { return screenCovered(_connection); }, kStartSeconds)) return true;
  _why = "i3lock did not cover the screen";
  return false;
}

void VirtualDisplay::unlock() {
  _locker.reset();
  if (!eventually([&] { return !screenCovered(_connection); }, kStartSeconds))
    ADD_FAILURE() << "the locker's window stays";
}

bool VirtualDisplay::setMonitors(const std::vector<MonitorPlacement>& monitors) {
  if (access(kXrandr, X_OK) != 0) {
    _why = "xrandr is not installed";
    return false;
  }
  auto xrandr = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kXrandr);
    ChildResult done = runChild(arguments, {.environment = {"DISPLAY=" + _name}}, 10);
    if (!done.exited || done.exitStatus != 0) _why = "xrandr failed: " + done.err;
    return done.exited && done.exitStatus == 0;
  };
  for (const std::string& name : _monitorNames) xrandr({"--delmonitor", name});
  _monitorNames.clear();
  for (const MonitorPlacement& monitor : monitors) {
    std::string name = "TEST" + std::to_string(_monitorNames.size());
    std::string geometry = std::to_string(monitor.width) + "/300x" +
                           std::to_string(monitor.height) + "/200+" + std::to_string(monitor.x) +
                           "+" + std::to_string(monitor.y);
    // A leading '*' makes the monitor the primary one.
    if (!xrandr({"--setmonitor", (monitor.primary ? "*" : "") + name, geometry, "none"}))
      return false;
    _monitorNames.push_back(name);
  }
  return true;
}

void VirtualDisplay::publishScale(int factor) {
  Window root = DefaultRootWindow(_connection);
  if (!_settingsWindow) {
    _settingsWindow = XCreateSimpleWindow(_connection, root, -1, -1, 1, 1, 0, 0, 0);
    XSetSelectionOwner(_connection, XInternAtom(_connection, "_XSETTINGS_S0", False),
                       _settingsWindow, CurrentTime);
  }
  // Little-endian: byte order, serial, count, then each integer setting.
  std::vector<unsigned char> bytes = {'l', 0, 0, 0};
  auto card32 = [&](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  auto integer = [&](const std::string& name, std::uint32_t value) {
    bytes.insert(bytes.end(), {0, 0, static_cast<unsigned char>(name.size()), 0});
    bytes.insert(bytes.end(), name.begin(), name.end());
    while (bytes.size() % 4) bytes.push_back(0);
    card32(_settingsSerial);
    card32(value);
  };
  card32(++_settingsSerial);
  card32(2);
  integer("Gdk/WindowScalingFactor", std::uint32_t(factor));
  integer("Xft/DPI", std::uint32_t(factor * 96 * 1024));
  Atom property = XInternAtom(_connection, "_XSETTINGS_SETTINGS", False);
  XChangeProperty(_connection, _settingsWindow, property, property, 8, PropModeReplace,
                  bytes.data(), int(bytes.size()));
  XSync(_connection, False);
}

}  // namespace testing_support
