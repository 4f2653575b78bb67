#pragma once

#include <functional>

namespace appkit {

// What happens at once when Xlib finds the connection to its display broken. Xlib may find it in
// the middle of a drawing (cairo makes several requests in one call), and once its fatal-error
// handler returns, the next request of that call waits for the display's lock for ever; so the
// loss is dealt with inside the handler, before any further request.
class X11ConnectionLoss {
 public:
  // Makes Xlib call `onLoss` on the thread that found the loss, after logging it. `onLoss` is
  // expected to end the process; if it returns, Xlib goes on as if the handler were absent.
  // Call after the first display has opened (main thread).
  static void handleWith(std::function<void()> onLoss);
};

}  // namespace appkit
