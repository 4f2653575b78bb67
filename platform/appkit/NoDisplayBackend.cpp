#include "appkit/NoDisplayBackend.h"

namespace appkit {

foundation::TimeInterval NoDisplayBackend::refreshInterval() const {
  return foundation::TimeInterval::seconds(1.0 / 60);
}

std::unique_ptr<BackendWindow> NoDisplayBackend::createWindow(Rect, double, BackendWindowClient&) {
  return nullptr;
}

}  // namespace appkit
