#include "appkit/wayland/ShmFrames.h"

#include <cairo.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/Log.h"

namespace appkit {
namespace {

// Every channel of a premultiplied pixel scaled by `factor` (0..256).
std::uint32_t scaled(std::uint32_t pixel, std::uint32_t factor) {
  std::uint32_t redBlue = ((pixel & 0x00FF00FFu) * factor >> 8) & 0x00FF00FFu;
  std::uint32_t alphaGreen = ((pixel >> 8 & 0x00FF00FFu) * factor) & 0xFF00FF00u;
  return alphaGreen | redBlue;
}

std::uint32_t factorOf(double alpha) {
  return std::uint32_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 256));
}

}  // namespace

std::uint32_t ShmFrames::faded(std::uint32_t pixel, double alpha) {
  return scaled(pixel, factorOf(alpha));
}

ShmFrames::Slot::~Slot() {
  if (pixels) munmap(pixels, capacity);
}

bool ShmFrames::Slot::reserve(wl_shm* shm, std::size_t bytes) {
  if (bytes <= capacity) return true;
  buffer.reset();
  pool.reset();
  if (pixels) munmap(pixels, capacity);
  pixels = nullptr;
  capacity = 0;
  if (!file) file.reset(memfd_create("appkit-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!file) {
    foundation::NSLog("appkit: no memory file for a Wayland frame: %s", std::strerror(errno));
    return false;
  }
  if (ftruncate(file.get(), off_t(bytes)) != 0) {
    foundation::NSLog("appkit: no room for a Wayland frame of %zu bytes: %s", bytes,
                      std::strerror(errno));
    return false;
  }
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0);
  if (mapped == MAP_FAILED) {
    foundation::NSLog("appkit: a Wayland frame does not map: %s", std::strerror(errno));
    return false;
  }
  pixels = mapped;
  capacity = bytes;
  pool.reset(wl_shm_create_pool(shm, file.get(), std::int32_t(bytes)));
  return pool != nullptr;
}

ShmFrames::ShmFrames(wl_shm* shm, std::function<void()> onReleased)
    : _shm(shm), _onReleased(std::move(onReleased)) {
  for (Slot& slot : _slots) slot.owner = this;
}

ShmFrames::~ShmFrames() = default;

void ShmFrames::released(void* data, wl_buffer*) {
  Slot& slot = *static_cast<Slot*>(data);
  slot.held = false;
  slot.buffer.reset();
  ShmFrames& owner = *slot.owner;
  if (owner._starved) {
    owner._starved = false;
    if (owner._onReleased) owner._onReleased();
  }
}

wl_buffer* ShmFrames::fill(cairo_surface_t* frame, int left, int top, int width, int height,
                           double alpha) {
  auto free =
      std::find_if(_slots.begin(), _slots.end(), [](const Slot& slot) { return !slot.held; });
  if (free == _slots.end()) {
    _starved = true;
    return nullptr;
  }
  Slot& slot = *free;
  const int frameWidth = cairo_image_surface_get_width(frame);
  const int frameHeight = cairo_image_surface_get_height(frame);
  width = std::clamp(width, 0, std::max(frameWidth - left, 0));
  height = std::clamp(height, 0, std::max(frameHeight - top, 0));
  if (width == 0 || height == 0) return nullptr;
  const std::size_t stride = std::size_t(width) * 4;
  if (!slot.reserve(_shm, stride * std::size_t(height))) return nullptr;

  cairo_surface_flush(frame);
  const unsigned char* from = cairo_image_surface_get_data(frame);
  const int fromStride = cairo_image_surface_get_stride(frame);
  if (!from) return nullptr;
  const std::uint32_t factor = factorOf(alpha);
  auto* to = static_cast<unsigned char*>(slot.pixels);
  for (int row = 0; row < height; ++row) {
    const unsigned char* source =
        from + std::size_t(top + row) * fromStride + std::size_t(left) * 4;
    unsigned char* target = to + std::size_t(row) * stride;
    if (factor >= 256) {
      std::memcpy(target, source, stride);
      continue;
    }
    for (int column = 0; column < width; ++column) {
      std::uint32_t pixel;
      std::memcpy(&pixel, source + column * 4, 4);
      pixel = scaled(pixel, factor);
      std::memcpy(target + column * 4, &pixel, 4);
    }
  }
  slot.buffer.reset(wl_shm_pool_create_buffer(slot.pool.get(), 0, width, height,
                                              std::int32_t(stride), WL_SHM_FORMAT_ARGB8888));
  if (!slot.buffer) return nullptr;
  static const wl_buffer_listener listener = {.release = released};
  wl_buffer_add_listener(slot.buffer.get(), &listener, &slot);
  slot.held = true;
  return slot.buffer.get();
}

}  // namespace appkit
