// screencapture: saves what the X display shows as a PNG image.
//
//   screencapture [-x] [-t png] FILE
//
// Captures the whole root window of $DISPLAY (every screen of it, as the X server composes them)
// in its device pixels, without alpha. -x (make no sound) is accepted; nothing is ever played. The
// image is written beside FILE first and then renamed, so a reader never sees half an image.
//
// Exit status: 0 saved; 1 no display, a visual that is not true colour, an image that could not
// be taken or written, or a usage error.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "appkit/GraphicsHandles.h"
#include "foundation/PropertyList.h"

namespace {

constexpr int kFailed = 1;

int usage() {
  std::fputs("usage: screencapture [-x] [-t png] file\n", stderr);
  return kFailed;
}

// The X error that ended the last request, if any; XGetImage then answers null instead of the
// default handler ending the process.
int s_xError = 0;
int rememberError(Display*, XErrorEvent* event) {
  s_xError = event->error_code;
  return 0;
}

// The position of a mask's lowest set bit and how many bits it spans.
struct Channel {
  unsigned shift = 0;
  unsigned bits = 0;
  explicit Channel(unsigned long mask) {
    if (mask == 0) return;
    while (!(mask & 1UL)) mask >>= 1, ++shift;
    while (mask & 1UL) mask >>= 1, ++bits;
  }
  // The channel of `pixel` scaled to 8 bits.
  std::uint32_t of(unsigned long pixel) const {
    if (bits == 0) return 0;
    unsigned long value = (pixel >> shift) & ((1UL << bits) - 1);
    if (bits >= 8) return static_cast<std::uint32_t>(value >> (bits - 8));
    return static_cast<std::uint32_t>(value * 255 / ((1UL << bits) - 1));
  }
};

// Writes the image to `path` through a temporary file of a fresh name beside it; false after saying
// why.
bool savePng(XImage& image, const std::string& path) {
  appkit::CairoSurface surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "screencapture: cannot make a %dx%d image\n", image.width, image.height);
    return false;
  }
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  int stride = cairo_image_surface_get_stride(surface.get());
  Channel red(image.red_mask), green(image.green_mask), blue(image.blue_mask);
  for (int y = 0; y < image.height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < image.width; ++x) {
      unsigned long pixel = XGetPixel(&image, x, y);
      row[x] = red.of(pixel) << 16 | green.of(pixel) << 8 | blue.of(pixel);
    }
  }
  cairo_surface_mark_dirty(surface.get());

  std::string png;
  cairo_status_t status = cairo_surface_write_to_png_stream(
      surface.get(),
      [](void* closure, const unsigned char* bytes, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "screencapture: cannot encode the image: %s\n",
                 cairo_status_to_string(status));
    return false;
  }
  if (foundation::Result<void> written = foundation::writeFileAtomically(path, png); !written) {
    std::fprintf(stderr, "screencapture: cannot write %s: %s\n", path.c_str(),
                 std::strerror(written.error().code));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  for (int index = 1; index < argc; ++index) {
    std::string argument = argv[index];
    if (argument == "-x") continue;
    if (argument == "-t" && index + 1 < argc) {
      if (std::string(argv[++index]) != "png") {
        std::fprintf(stderr, "screencapture: only png images are made\n");
        return kFailed;
      }
      continue;
    }
    if (argument.size() > 1 && argument[0] == '-') return usage();
    if (!file.empty()) return usage();
    file = argument;
  }
  if (file.empty()) return usage();

  const char* name = std::getenv("DISPLAY");
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "screencapture: cannot open the display \"%s\"\n", name ? name : "");
    return kFailed;
  }
  XSetErrorHandler(rememberError);
  Window root = DefaultRootWindow(display);
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, root, &attributes);
  int result = kFailed;
  if (attributes.visual == nullptr || attributes.visual->c_class != TrueColor) {
    std::fputs("screencapture: the display's visual is not true colour\n", stderr);
  } else if (XImage* image = XGetImage(display, root, 0, 0, attributes.width, attributes.height,
                                       AllPlanes, ZPixmap)) {
    if (image->red_mask == 0) {
      image->red_mask = attributes.visual->red_mask;
      image->green_mask = attributes.visual->green_mask;
      image->blue_mask = attributes.visual->blue_mask;
    }
    if (savePng(*image, file)) result = 0;
    XDestroyImage(image);
  } else {
    std::fprintf(stderr, "screencapture: cannot read the screen (X error %d)\n", s_xError);
  }
  XCloseDisplay(display);
  return result;
}
