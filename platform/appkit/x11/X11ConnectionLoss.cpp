#include "appkit/x11/X11ConnectionLoss.h"

#include "foundation/Log.h"

#include <X11/Xlib.h>

namespace appkit {
namespace {

std::function<void()> s_onLoss;
XIOErrorHandler s_previous = nullptr;
bool s_reported = false;

int onConnectionBroken(Display* display) {
  if (!s_reported) {
    s_reported = true;
    foundation::NSLog("appkit: the connection to the X display was lost");
    if (s_onLoss) s_onLoss();
  }
  return s_previous ? s_previous(display) : 0;
}

}  // namespace

void X11ConnectionLoss::handleWith(std::function<void()> onLoss) {
  s_onLoss = std::move(onLoss);
  XIOErrorHandler previous = XSetIOErrorHandler(onConnectionBroken);
  if (previous != onConnectionBroken) s_previous = previous;
}

}  // namespace appkit
