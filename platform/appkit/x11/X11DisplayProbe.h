#pragma once

#include <string>

#include "foundation/Result.h"
#include "foundation/TimeInterval.h"

namespace appkit {

// Asks an X server whether it is alive before Xlib connects to it, since XOpenDisplay waits without
// end on a server that accepts and never answers (a stopped server, a stale forwarded display).
// Speaks only the first bytes of the protocol, over its own socket. Thread-safe: it keeps no state.
class X11DisplayProbe {
 public:
  // Success once the server of `display` (":1", "unix:1.0", "host:10") sends its first reply
  // byte within `limit` (whatever it answers, it is alive). An error with the reason when nothing
  // listens there or it stays silent. A name this probe cannot reach itself (an unusual transport)
  // counts as success: Xlib then decides. A host name is looked up before the bound starts.
  static foundation::Result<void> check(const std::string& display, foundation::TimeInterval limit);
};

}  // namespace appkit
