#pragma once

namespace dispatch {

// True on the process's initial thread, the one that runs the main run loop.
bool isMainThread();

}  // namespace dispatch
