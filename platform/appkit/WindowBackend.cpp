#include "appkit/WindowBackend.h"

#include <cstdlib>

#include "appkit/Application.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Log.h"
#ifdef APPKIT_HAS_X11
#include "appkit/x11/X11Backend.h"
#endif

namespace appkit {
namespace {

std::unique_ptr<WindowBackend>& sharedSlot() {
  // Deliberately leaked: windows of static lifetime may still talk to it while the process exits.
  static auto* s_backend = new std::unique_ptr<WindowBackend>();
  return *s_backend;
}

}  // namespace

std::unique_ptr<WindowBackend> WindowBackend::makeDefault() {
  // Each backend the build has is tried here in order of preference, before the off-screen one,
  // which always runs.
#ifdef APPKIT_HAS_X11
  const char* display = std::getenv("DISPLAY");
  if (display && *display) {
    // Without its display the application cannot show anything more: it ends, as when its
    // session ends.
    auto x11 = X11Backend::open(display, [] {
      foundation::NSLog("appkit: the display is gone; the application ends");
      Application::shared().terminate();
    });
    if (x11) return x11;
    foundation::NSLog("appkit: the X display %s does not open", display);
  }
#endif
  return std::make_unique<HeadlessBackend>();
}

WindowBackend& WindowBackend::shared() {
  APPKIT_ASSERT_MAIN_THREAD();
  std::unique_ptr<WindowBackend>& backend = sharedSlot();
  if (!backend) {
    backend = makeDefault();
    ScreenDescription screen = backend->mainScreen();
    foundation::NSLog("appkit: windows go to the %s backend (screen %gx%g points at scale %g)",
                      backend->name().c_str(), screen.frame.size.width, screen.frame.size.height,
                      screen.backingScaleFactor);
  }
  return *backend;
}

void WindowBackend::setSharedForTesting(std::unique_ptr<WindowBackend> backend) {
  APPKIT_ASSERT_MAIN_THREAD();
  sharedSlot() = std::move(backend);
}

}  // namespace appkit
