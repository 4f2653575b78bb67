#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "appkit/Button.h"
#include "appkit/Event.h"
#include "appkit/Layout.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Clock.h"

namespace testing_support {

// A pop-up-like window loaded from a layout through the shared registry (so the agent's widgets
// are decoded, set up and awoken as the application's layout would), shown off-screen at the
// scale given, with a manual clock. Pixels are read from the window's own surface.
//
// The window is 360×180 points, non-opaque with a clear background; its content view is an
// NSBackgroudView named "background". `buttons` is the XML of further objects (buttons and their
// cells) placed on the background through its "subviews" outlet, listed in `subviewIds`.
class PopupLayoutFixture : public ::testing::TestWithParam<double> {
 protected:
  struct Rgba {
    int red, green, blue, alpha;  // premultiplied, 0…255
  };

  PopupLayoutFixture();
  ~PopupLayoutFixture() override;

  double scale() const { return GetParam(); }
  // Loads and shows the window; fails the test (and answers false) if the layout does not load.
  bool show(const std::string& objectsXml, const std::string& subviewIds);
  appkit::Window& window() const { return *_window; }
  template <class T>
  T* object(const char* id) const {
    return dynamic_cast<T*>(_layout->objectWithId(id));
  }
  // Runs the main loop until nothing is left to do (redraws included).
  static void drain();
  // The pixel at point (x, y) of the window, y up from its bottom edge, in device pixels of the
  // point's square (its bottom-left device pixel).
  Rgba at(double x, double y) const;
  void mouse(appkit::EventType type, appkit::Point at);
  // For looking at by hand: when the environment names a folder in MENDKIT_TEST_PNG_DIR, writes
  // the window there as <name>-<scale>x.png; otherwise does nothing.
  void writePng(const std::string& name) const;

  foundation::ManualClock clock;
  foundation::ScopedClock scopedClock{clock};

 private:
  appkit::HeadlessBackend* _backend = nullptr;
  std::unique_ptr<appkit::Layout> _layout;
  appkit::Window* _window = nullptr;
};

}  // namespace testing_support
