#pragma once

// The client side of the layer-shell protocol (zwlr_layer_shell_v1, version 4): surfaces that
// a compositor stacks in layers of an output and anchors to its edges. Debian ships no copy of
// its description, so its interface tables and requests are written out here.

#include <wayland-client-core.h>

#include <cstdint>

struct wl_surface;
struct wl_output;

namespace appkit::layer_shell {

struct Shell;    // a zwlr_layer_shell_v1 proxy
struct Surface;  // a zwlr_layer_surface_v1 proxy

extern const wl_interface kShellInterface;
extern const wl_interface kSurfaceInterface;
constexpr std::uint32_t kVersion = 4;

enum class Layer : std::uint32_t { Background = 0, Bottom = 1, Top = 2, Overlay = 3 };
enum Anchor : std::uint32_t { Top = 1, Bottom = 2, Left = 4, Right = 8 };
enum class Keyboard : std::uint32_t { None = 0, Exclusive = 1, OnDemand = 2 };

// The two events of a layer surface, in their order on the wire.
struct SurfaceListener {
  void (*configure)(void* data, Surface* surface, std::uint32_t serial, std::uint32_t width,
                    std::uint32_t height);
  void (*closed)(void* data, Surface* surface);
};

// A layer surface for `surface` on `output` (null: the compositor's choice), or null.
Surface* getLayerSurface(Shell* shell, wl_surface* surface, wl_output* output, Layer layer,
                         const char* nameSpace);
// Releases the shell global (a request from version 3 on; below that only the proxy goes).
void destroy(Shell* shell);

int addListener(Surface* surface, const SurfaceListener* listener, void* data);
void setSize(Surface* surface, std::uint32_t width, std::uint32_t height);
void setAnchor(Surface* surface, std::uint32_t anchor);
void setExclusiveZone(Surface* surface, std::int32_t zone);
void setMargin(Surface* surface, std::int32_t top, std::int32_t right, std::int32_t bottom,
               std::int32_t left);
void setKeyboardInteractivity(Surface* surface, Keyboard keyboard);
void ackConfigure(Surface* surface, std::uint32_t serial);
void setLayer(Surface* surface, Layer layer);
void destroy(Surface* surface);

}  // namespace appkit::layer_shell
