// Renders one whole window like the pop-up (panel, two flat buttons, a check box, two lines of
// text with red ranges) off-screen, many times, at scale 1 and at scale 2, and compares the cost
// of a frame with that of merely clearing a surface of the same size in the same run. Also checks
// that redrawing unchanged text lays nothing out again. Exits non-zero if it does.

#include <cstdio>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "ColorButtonCell.h"
#include "NSBackgroudView.h"
#include "appkit/AttributedString.h"
#include "appkit/Button.h"
#include "appkit/Font.h"
#include "appkit/GraphicsHandles.h"
#include "appkit/TextField.h"
#include "appkit/TextLayout.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"

namespace {

using appkit::Rect;

constexpr int kFrames = 400;

// The pop-up's widgets, owned here, shown in one window.
struct Popup {
  explicit Popup(double scale) {
    appkit::WindowBackend::setSharedForTesting(
        std::make_unique<appkit::HeadlessBackend>(appkit::ScreenDescription{
            Rect::make(0, 0, 1440, 900), Rect::make(0, 0, 1440, 900), scale}));
    window = std::make_unique<appkit::Window>(Rect::make(1060, 700, 360, 180));
    window->setOpaque(false);
    window->setBackgroundColor(appkit::Color::clearColor());
    panel.setFrame(Rect::make(0, 0, 360, 180));

    message.setFrame(Rect::make(20, 80, 320, 80));
    appkit::AttributedString text(
        "Your iPhone could not be restored. Mendkit can repair the device and bring back your "
        "data without losing anything.",
        appkit::Font::systemFontOfSize(13), appkit::Color::blackColor());
    text.setForegroundColor(appkit::Color::redColor(), appkit::TextRange{5, 6});
    text.setForegroundColor(appkit::Color::redColor(), appkit::TextRange{12, 22});
    message.setAttributedStringValue(text);

    setUpButton(accept, acceptCell, Rect::make(200, 20, 140, 30), "Open Mendkit", false);
    setUpButton(dismiss, dismissCell, Rect::make(40, 20, 140, 30), "Later", true);
    neverAgain.setFrame(Rect::make(20, 56, 200, 18));
    neverAgain.setButtonType(appkit::ButtonType::Switch);
    neverAgain.setTitle("Don't show this again");

    for (appkit::View* view :
         std::initializer_list<appkit::View*>{&message, &accept, &dismiss, &neverAgain}) {
      panel.addSubview(view);
    }
    window->setContentView(&panel);
  }
  ~Popup() {
    window->setContentView(nullptr);
    window.reset();
    appkit::WindowBackend::setSharedForTesting(nullptr);
  }

  static void setUpButton(appkit::Button& button, ColorButtonCell& cell, Rect frame,
                          const char* title, bool border) {
    button.setFrame(frame);
    button.setCell(&cell);
    cell.setBkColor(appkit::Color::colorWithCalibratedRed(2 / 255.0, 154 / 255.0, 229 / 255.0, 1));
    cell.setBorderStyle(border);
    cell.setTitle(title);
  }

  std::unique_ptr<appkit::Window> window;
  NSBackgroudView panel;
  appkit::TextField message;
  ColorButtonCell acceptCell, dismissCell;
  appkit::Button accept, dismiss, neverAgain;
};

// Milliseconds per whole-window frame at `scale`, and per clear of a surface of the same size;
// `rebuilt` is how many text layouts the timed frames built.
struct Result {
  double frameMs;
  double clearMs;
  std::uint64_t rebuilt;
};

Result measure(double scale, const char* pngFolder) {
  Popup popup(scale);
  popup.window->display();  // the first frame lays the text out
  if (pngFolder) {
    std::string path = std::string(pngFolder) + "/popup-" + std::to_string(int(scale)) + "x.png";
    cairo_surface_write_to_png(popup.window->surface(), path.c_str());
  }
  std::uint64_t builds = appkit::TextLayout::totalBuildCount();
  double frame = bench::bestOf(5, [&] {
    for (int i = 0; i < kFrames; ++i) popup.window->display();
    return true;
  });
  std::uint64_t rebuilt = appkit::TextLayout::totalBuildCount() - builds;

  int width = static_cast<int>(360 * scale), height = static_cast<int>(180 * scale);
  appkit::CairoSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  double clear = bench::bestOf(5, [&] {
    for (int i = 0; i < kFrames; ++i) {
      // A fill of every pixel, alternating colours so that no frame can be skipped as unchanged.
      appkit::CairoContext cairo(cairo_create(surface.get()));
      cairo_set_operator(cairo.get(), CAIRO_OPERATOR_SOURCE);
      cairo_set_source_rgba(cairo.get(), 0, 0, 0, (i % 2) ? 0.0 : 1.0);
      cairo_paint(cairo.get());
      cairo.reset();
      cairo_surface_flush(surface.get());
    }
    return true;
  });
  return Result{frame * 1000 / kFrames, clear * 1000 / kFrames, rebuilt};
}

}  // namespace

// With a folder as argument, also writes the first frame of each scale there as a PNG.
int main(int argc, char** argv) {
  const char* pngFolder = argc > 1 ? argv[1] : nullptr;
  bool ok = true;
  std::printf("360x180 pop-up window, %d frames, best of 5\n", kFrames);
  std::printf("%-6s %12s %12s %10s %14s\n", "scale", "frame ms", "clear ms", "ratio",
              "text rebuilt");
  for (double scale : {1.0, 2.0}) {
    Result result = measure(scale, pngFolder);
    std::printf("%-6.0f %12.3f %12.4f %9.1fx %14llu\n", scale, result.frameMs, result.clearMs,
                result.frameMs / result.clearMs, static_cast<unsigned long long>(result.rebuilt));
    if (result.rebuilt != 0) ok = false;
  }
  std::printf("target: a frame within 2 ms at scale 1; no text laid out again\n");
  return ok ? 0 : 1;
}
