#include "appkit/wayland/LayerShell.h"

#include <wayland-client-protocol.h>

namespace appkit::layer_shell {
namespace {

// Request opcodes, in the order the protocol declares them.
enum ShellRequest : std::uint32_t { GetLayerSurface = 0, DestroyShell = 1 };
enum SurfaceRequest : std::uint32_t {
  SetSize = 0,
  SetAnchor,
  SetExclusiveZone,
  SetMargin,
  SetKeyboardInteractivity,
  GetPopup,
  AckConfigure,
  DestroySurface,
  SetLayer,
};

// The interfaces of the object arguments, message by message, as libwayland reads them: an
// entry per argument, null for those that are not objects. A popup (get_popup's argument) is
// never asked for here, so its interface is left open.
const wl_interface* kTypes[] = {
    // requests without object arguments (at most four arguments), and get_popup's popup
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    // get_layer_surface: new_id, surface, output, layer, namespace
    &kSurfaceInterface,
    &wl_surface_interface,
    &wl_output_interface,
    nullptr,
    nullptr,
};
const wl_interface** const kNoTypes = kTypes;
const wl_interface** const kGetLayerSurfaceTypes = kTypes + 4;

const wl_message kShellRequests[] = {
    {"get_layer_surface", "no?ous", kGetLayerSurfaceTypes},
    {"destroy", "3", kNoTypes},
};

const wl_message kSurfaceRequests[] = {
    {"set_size", "uu", kNoTypes},
    {"set_anchor", "u", kNoTypes},
    {"set_exclusive_zone", "i", kNoTypes},
    {"set_margin", "iiii", kNoTypes},
    {"set_keyboard_interactivity", "u", kNoTypes},
    {"get_popup", "o", kNoTypes},
    {"ack_configure", "u", kNoTypes},
    {"destroy", "", kNoTypes},
    {"set_layer", "2u", kNoTypes},
};

const wl_message kSurfaceEvents[] = {
    {"configure", "uuu", kNoTypes},
    {"closed", "", kNoTypes},
};

wl_proxy* proxy(Surface* surface) { return reinterpret_cast<wl_proxy*>(surface); }

void send(Surface* surface, std::uint32_t opcode, auto... arguments) {
  wl_proxy_marshal_flags(proxy(surface), opcode, nullptr, wl_proxy_get_version(proxy(surface)), 0,
                         arguments...);
}

}  // namespace

const wl_interface kShellInterface = {
    "zwlr_layer_shell_v1", int(kVersion), 2, kShellRequests, 0, nullptr};
const wl_interface kSurfaceInterface = {
    "zwlr_layer_surface_v1", int(kVersion), 9, kSurfaceRequests, 2, kSurfaceEvents};

Surface* getLayerSurface(Shell* shell, wl_surface* surface, wl_output* output, Layer layer,
                         const char* nameSpace) {
  auto* shellProxy = reinterpret_cast<wl_proxy*>(shell);
  wl_proxy* made = wl_proxy_marshal_flags(shellProxy, GetLayerSurface, &kSurfaceInterface,
                                          wl_proxy_get_version(shellProxy), 0, nullptr, surface,
                                          output, std::uint32_t(layer), nameSpace);
  return reinterpret_cast<Surface*>(made);
}

void destroy(Shell* shell) {
  auto* shellProxy = reinterpret_cast<wl_proxy*>(shell);
  std::uint32_t version = wl_proxy_get_version(shellProxy);
  if (version >= 3) {
    wl_proxy_marshal_flags(shellProxy, DestroyShell, nullptr, version, WL_MARSHAL_FLAG_DESTROY);
  } else {
    wl_proxy_destroy(shellProxy);
  }
}

int addListener(Surface* surface, const SurfaceListener* listener, void* data) {
  return wl_proxy_add_listener(
      proxy(surface), reinterpret_cast<void (**)(void)>(const_cast<SurfaceListener*>(listener)),
      data);
}

void setSize(Surface* surface, std::uint32_t width, std::uint32_t height) {
  send(surface, SetSize, width, height);
}

void setAnchor(Surface* surface, std::uint32_t anchor) { send(surface, SetAnchor, anchor); }

void setExclusiveZone(Surface* surface, std::int32_t zone) {
  send(surface, SetExclusiveZone, zone);
}

void setMargin(Surface* surface, std::int32_t top, std::int32_t right, std::int32_t bottom,
               std::int32_t left) {
  send(surface, SetMargin, top, right, bottom, left);
}

void setKeyboardInteractivity(Surface* surface, Keyboard keyboard) {
  // On demand came with version 4; below it, none is all a pop-up may ask.
  if (keyboard == Keyboard::OnDemand && wl_proxy_get_version(proxy(surface)) < 4)
    keyboard = Keyboard::None;
  send(surface, SetKeyboardInteractivity, std::uint32_t(keyboard));
}

void ackConfigure(Surface* surface, std::uint32_t serial) { send(surface, AckConfigure, serial); }

void setLayer(Surface* surface, Layer layer) {
  if (wl_proxy_get_version(proxy(surface)) >= 2) send(surface, SetLayer, std::uint32_t(layer));
}

void destroy(Surface* surface) {
  wl_proxy_marshal_flags(proxy(surface), DestroySurface, nullptr,
                         wl_proxy_get_version(proxy(surface)), WL_MARSHAL_FLAG_DESTROY);
}

}  // namespace appkit::layer_shell
