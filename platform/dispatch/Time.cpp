#include "dispatch/Time.h"

#include "foundation/Clock.h"

namespace dispatch {

Time Time::now() { return Time{foundation::Clock::current().uptime()}; }

}  // namespace dispatch
