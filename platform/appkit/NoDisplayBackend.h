#pragma once

#include "appkit/WindowBackend.h"

namespace appkit {

// The backend of a process that has no display to show on: it makes no windows, and its screen
// is empty (0×0 points at scale 1). Main thread only.
class NoDisplayBackend final : public WindowBackend {
 public:
  std::string name() const override { return "none"; }
  bool showsWindows() const override { return false; }
  ScreenDescription mainScreen() const override { return {}; }
  foundation::TimeInterval refreshInterval() const override;
  std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                              BackendWindowClient& client) override;
};

}  // namespace appkit
