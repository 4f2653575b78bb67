#pragma once

#include <functional>
#include <memory>

namespace appkit {

class WindowBackend;

// Which window backend the process uses, from the environment it was started with: the
// off-screen one when PLATFORM_BACKEND is "offscreen", else Wayland when the compositor of
// WAYLAND_DISPLAY answers within 2 s and offers the layer shell, else X11 when the X server of
// DISPLAY answers within 2 s and opens (XWayland where a compositor lacks the layer shell), else
// none (no window can show; why is logged once).
class WindowBackendChoice {
 public:
  // A new backend as chosen above. Main thread.
  static std::unique_ptr<WindowBackend> make();

  // What a lost display means, called once on the main thread when the display of a backend made
  // here breaks; the application sets it (without one, the loss is only logged). Main thread.
  static void setOnDisplayLost(std::function<void()> handler);

  // Whether a window can be shown now: the shared backend shows windows, or off-screen is asked
  // for, or, while no display is open, WAYLAND_DISPLAY's compositor or DISPLAY's server answers
  // now (probes bounded by 2 s each, instant when nothing listens). Any thread; for a caller that
  // asks before deciding to show.
  static bool windowsCanShowNow();

  // For WindowBackend::shared(): the shared backend is now `backend` (may be null). Main thread.
  static void noteShared(const WindowBackend* backend);
  // Whether a display answered windowsCanShowNow() while the shared backend showed none, and
  // forgets it: the shared backend is then chosen again. Main thread.
  static bool takeDisplayAnswered();
};

}  // namespace appkit
