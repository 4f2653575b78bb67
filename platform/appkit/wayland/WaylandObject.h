#pragma once

#include <wayland-client-protocol.h>
#include <wayland-cursor.h>

#include <memory>

#include "appkit/wayland/LayerShell.h"
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
#include "fractional-scale-v1.h"
#include "viewporter.h"
#endif

namespace appkit {

// How each kind of object the backend holds is let go: its destroy (or release) request, or its
// library's free function.
namespace wayland_release {
inline void release(wl_registry* object) { wl_registry_destroy(object); }
inline void release(wl_compositor* object) { wl_compositor_destroy(object); }
inline void release(wl_shm* object) { wl_shm_destroy(object); }
inline void release(wl_shm_pool* object) { wl_shm_pool_destroy(object); }
inline void release(wl_buffer* object) { wl_buffer_destroy(object); }
inline void release(wl_seat* object) { wl_seat_release(object); }
inline void release(wl_pointer* object) { wl_pointer_release(object); }
inline void release(wl_output* object) { wl_output_destroy(object); }
inline void release(wl_surface* object) { wl_surface_destroy(object); }
inline void release(wl_callback* object) { wl_callback_destroy(object); }
inline void release(wl_cursor_theme* object) { wl_cursor_theme_destroy(object); }
inline void release(layer_shell::Shell* object) { layer_shell::destroy(object); }
inline void release(layer_shell::Surface* object) { layer_shell::destroy(object); }
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
inline void release(wp_viewporter* object) { wp_viewporter_destroy(object); }
inline void release(wp_viewport* object) { wp_viewport_destroy(object); }
inline void release(wp_fractional_scale_manager_v1* object) {
  wp_fractional_scale_manager_v1_destroy(object);
}
inline void release(wp_fractional_scale_v1* object) { wp_fractional_scale_v1_destroy(object); }
#endif
}  // namespace wayland_release

struct WaylandReleaser {
  template <typename T>
  void operator()(T* object) const {
    if (object) wayland_release::release(object);
  }
};

// Owns one client-side Wayland object (a proxy, a cursor theme) and lets it go when it goes out
// of scope. Move-only; null stands for "none".
template <typename T>
using WaylandObject = std::unique_ptr<T, WaylandReleaser>;

}  // namespace appkit
