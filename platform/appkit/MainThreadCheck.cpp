#include "appkit/MainThreadCheck.h"

#include <cstdlib>

#include "foundation/Log.h"

namespace appkit {

void mainThreadViolation(const char* function) {
  foundation::NSLog("appkit: %s must be called on the main thread", function);
  std::abort();
}

}  // namespace appkit
