#pragma once

#include <wayland-client-protocol.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "appkit/wayland/WaylandObject.h"
#include "foundation/FileDescriptor.h"

typedef struct _cairo_surface cairo_surface_t;

namespace appkit {

// Two shared-memory buffers that a window's frames are copied into for the compositor, each
// reused once the compositor has released it. Each lives in a memory file of its own, grown when
// a bigger frame comes. Main thread only.
class ShmFrames {
 public:
  // `onReleased` is called when a buffer comes back from the compositor while both were held.
  ShmFrames(wl_shm* shm, std::function<void()> onReleased);
  ~ShmFrames();
  ShmFrames(const ShmFrames&) = delete;
  ShmFrames& operator=(const ShmFrames&) = delete;

  // A buffer of `width` × `height` pixels holding the pixels of `frame` (ARGB32, premultiplied)
  // from column `left` and row `top` on, every channel multiplied by `alpha`; the compositor
  // holds it from the commit it is attached to until it releases it. Null while both buffers are
  // held, or when no memory can be had (logged).
  wl_buffer* fill(cairo_surface_t* frame, int left, int top, int width, int height, double alpha);

  // A premultiplied 0xAARRGGBB pixel with all four channels scaled by `alpha` (0 to 1): the
  // pixel as it shows with the window faded to `alpha`.
  static std::uint32_t faded(std::uint32_t pixel, double alpha);

 private:
  struct Slot {
    ShmFrames* owner = nullptr;
    foundation::FileDescriptor file;
    void* pixels = nullptr;
    std::size_t capacity = 0;
    WaylandObject<wl_shm_pool> pool;
    WaylandObject<wl_buffer> buffer;
    bool held = false;

    // Unmaps the memory (the rest releases itself).
    ~Slot();
    bool reserve(wl_shm* shm, std::size_t bytes);
  };
  static void released(void* data, wl_buffer* buffer);

  wl_shm* _shm;
  std::function<void()> _onReleased;
  std::array<Slot, 2> _slots;
  bool _starved = false;  // a fill found both held
};

}  // namespace appkit
