#include "appkit/WindowBackend.h"

#include "appkit/MainThreadCheck.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Log.h"

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
