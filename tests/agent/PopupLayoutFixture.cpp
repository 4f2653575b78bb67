#include "PopupLayoutFixture.h"

#include <cairo.h>

#include <cstdlib>

#include "appkit/ClassRegistry.h"
#include "appkit/RunLoop.h"
#include "foundation/PropertyList.h"

namespace testing_support {

PopupLayoutFixture::PopupLayoutFixture() {
  auto backend = std::make_unique<appkit::HeadlessBackend>(appkit::ScreenDescription{
      appkit::Rect::make(0, 0, 1440, 900), appkit::Rect::make(0, 0, 1440, 900), GetParam()});
  _backend = backend.get();
  appkit::WindowBackend::setSharedForTesting(std::move(backend));
}

PopupLayoutFixture::~PopupLayoutFixture() {
  _layout.reset();
  drain();
  appkit::WindowBackend::setSharedForTesting(nullptr);
}

bool PopupLayoutFixture::show(const std::string& objectsXml, const std::string& subviewIds) {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Objects</key><array>
  <dict><key>id</key><string>window</string><key>class</key><string>NSWindow</string>
    <key>properties</key><dict>
      <key>frame</key><array><integer>1060</integer><integer>700</integer><integer>360</integer><integer>180</integer></array>
      <key>opaque</key><false/>
      <key>backgroundColor</key><dict><key>white</key><real>0</real><key>alpha</key><real>0</real></dict>
      <key>visibleAtLaunch</key><false/>
    </dict>
    <key>outlets</key><dict><key>contentView</key><string>background</string></dict></dict>
  <dict><key>id</key><string>background</string><key>class</key><string>NSBackgroudView</string>
    <key>outlets</key><dict><key>subviews</key><array>)" +
                    subviewIds + R"(</array></dict></dict>
)" + objectsXml + R"(
</array></dict></plist>)";
  std::optional<foundation::PlistValue> root = foundation::parsePropertyList(xml);
  if (!root) {
    ADD_FAILURE() << "the test layout is not a property list";
    return false;
  }
  appkit::LayoutResult loaded =
      appkit::Layout::loadFromValue(*root, "popup-test", appkit::ClassRegistry::shared());
  if (!loaded) {
    ADD_FAILURE() << loaded.error().message;
    return false;
  }
  _layout = std::move(loaded).value();
  _window = object<appkit::Window>("window");
  _window->orderFront();
  drain();
  return true;
}

void PopupLayoutFixture::drain() {
  while (appkit::RunLoop::main().runOnce()) {
  }
}

PopupLayoutFixture::Rgba PopupLayoutFixture::at(double x, double y) const {
  cairo_surface_t* surface = _window->surface();
  cairo_surface_flush(surface);
  int column = static_cast<int>(x * scale());
  int row = cairo_image_surface_get_height(surface) - 1 - static_cast<int>(y * scale());
  const unsigned char* line =
      cairo_image_surface_get_data(surface) + row * cairo_image_surface_get_stride(surface);
  std::uint32_t v = reinterpret_cast<const std::uint32_t*>(line)[column];
  return Rgba{int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF), int(v >> 24)};
}

void PopupLayoutFixture::mouse(appkit::EventType type, appkit::Point at) {
  auto& headless = dynamic_cast<appkit::HeadlessWindow&>(*_window->backendWindow());
  _backend->sendMouse(headless, type, at, type == appkit::EventType::LeftMouseDown ? 1 : 0);
  drain();
}

void PopupLayoutFixture::writePng(const std::string& name) const {
  const char* folder = std::getenv("MENDKIT_TEST_PNG_DIR");
  if (!folder || !*folder) return;
  std::string path =
      std::string(folder) + "/" + name + "-" + std::to_string(static_cast<int>(scale())) + "x.png";
  cairo_surface_write_to_png(_window->surface(), path.c_str());
}

}  // namespace testing_support
