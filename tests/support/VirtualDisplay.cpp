#include "support/VirtualDisplay.h"

#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cstring>
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
  std::vector<std::string> args = {kServer,       "-displayfd", "3",   "-screen", "0",
                                   "1440x900x24", "-nolisten",  "tcp", "-noreset"};
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

cairo_surface_t* VirtualDisplay::screenshot() const {
  Window root = DefaultRootWindow(_connection);
  int width = DisplayWidth(_connection, DefaultScreen(_connection));
  int height = DisplayHeight(_connection, DefaultScreen(_connection));
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  XImage* shot =
      XGetImage(_connection, root, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (!shot) return image;
  unsigned char* data = cairo_image_surface_get_data(image);
  int stride = cairo_image_surface_get_stride(image);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) row[x] = std::uint32_t(XGetPixel(shot, x, y)) & 0xFFFFFF;
  }
  XDestroyImage(shot);
  cairo_surface_mark_dirty(image);
  return image;
}

std::uint32_t VirtualDisplay::rgbAt(cairo_surface_t* image, int x, int y) {
  cairo_surface_flush(image);
  const unsigned char* row =
      cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
  std::uint32_t value;
  std::memcpy(&value, row + x * 4, sizeof value);
  return value & 0xFFFFFF;
}

}  // namespace testing_support
