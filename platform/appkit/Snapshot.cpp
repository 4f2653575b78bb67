#include "appkit/Snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "appkit/GraphicsHandles.h"
#include "appkit/TextField.h"
#include "appkit/View.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"

namespace appkit {
namespace {

int s_snapshotCount = 0;
bool s_failureLogged = false;

const char* folder() {
  const char* folder = std::getenv("PLATFORM_SNAPSHOT_DIR");
  return folder && *folder ? folder : nullptr;
}

// The text of every shown text field of `view` and its subviews, one field a line, back to front.
void collectShownText(const View& view, std::string& text) {
  if (view.isHidden()) return;
  if (const auto* field = dynamic_cast<const TextField*>(&view)) {
    text += field->stringValue();
    text += '\n';
  }
  for (const View* subview : view.subviews()) collectShownText(*subview, text);
}

}  // namespace

bool Snapshot::enabled() { return folder() != nullptr; }

void Snapshot::write(cairo_surface_t* pixels, double alpha, const View* content) {
  const char* where = folder();
  if (!where) return;
  int number = ++s_snapshotCount;
  std::string base = std::string(where) + "/";
  std::string path = base + std::to_string(number) + ".png";
  std::string partial = base + "." + std::to_string(number) + ".png.partial";

  std::string text;
  if (content) collectShownText(*content, text);
  bool textWritten =
      foundation::writeFileAtomically(base + std::to_string(number) + ".txt", text).ok();

  CairoSurface image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                                cairo_image_surface_get_width(pixels),
                                                cairo_image_surface_get_height(pixels)));
  {
    CairoContext cairo(cairo_create(image.get()));
    cairo_set_source_surface(cairo.get(), pixels, 0, 0);
    cairo_paint_with_alpha(cairo.get(), alpha);
  }
  // Written aside and renamed, so that a reader never sees half a file.
  cairo_status_t status = cairo_surface_write_to_png(image.get(), partial.c_str());
  std::string reason;
  if (!textWritten) {
    reason = "its text could not be written";
  } else if (status != CAIRO_STATUS_SUCCESS) {
    reason = cairo_status_to_string(status);
  } else if (std::rename(partial.c_str(), path.c_str()) != 0) {
    reason = "it could not be renamed into place";
  }
  if (reason.empty()) return;
  std::remove(partial.c_str());
  if (!s_failureLogged) {
    s_failureLogged = true;
    foundation::NSLog(
        "appkit: unable to write the window snapshot %s (%s); further failures are "
        "not logged",
        path.c_str(), reason.c_str());
  }
}

}  // namespace appkit
