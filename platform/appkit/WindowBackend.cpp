#include "appkit/WindowBackend.h"

#include "appkit/MainThreadCheck.h"
#include "appkit/WindowBackendChoice.h"
#include "foundation/Log.h"

namespace appkit {
namespace {

std::unique_ptr<WindowBackend>& sharedSlot() {
  // Deliberately leaked: windows of static lifetime may still talk to it while the process exits.
  static auto* s_backend = new std::unique_ptr<WindowBackend>();
  return *s_backend;
}

}  // namespace

WindowBackend& WindowBackend::shared() {
  APPKIT_ASSERT_MAIN_THREAD();
  std::unique_ptr<WindowBackend>& backend = sharedSlot();
  if (!backend || (!backend->showsWindows() && WindowBackendChoice::takeDisplayAnswered())) {
    backend = WindowBackendChoice::make();
    WindowBackendChoice::noteShared(backend.get());
    if (backend->showsWindows()) {
      ScreenDescription screen = backend->mainScreen();
      foundation::NSLog("appkit: windows go to the %s backend (screen %gx%g points at scale %g)",
                        backend->name().c_str(), screen.frame.size.width, screen.frame.size.height,
                        screen.backingScaleFactor);
    }
  }
  return *backend;
}

void WindowBackend::setSharedForTesting(std::unique_ptr<WindowBackend> backend) {
  APPKIT_ASSERT_MAIN_THREAD();
  sharedSlot() = std::move(backend);
  WindowBackendChoice::noteShared(sharedSlot().get());
}

}  // namespace appkit
