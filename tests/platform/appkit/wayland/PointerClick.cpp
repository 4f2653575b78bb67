// wayland_pointer_click X Y WIDTH HEIGHT: moves a new virtual pointer of the compositor of
// WAYLAND_DISPLAY to X, Y of an output of WIDTH × HEIGHT points and clicks the left button there.
// For tests: a headless compositor has no pointer of its own. Exits 0 once the compositor has
// taken the click, 1 when it offers no virtual pointers, 2 on a bad command line.

#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

namespace {

// The virtual-pointer protocol (zwlr_virtual_pointer_manager_v1), the requests used here.
const wl_interface* kNoTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};
extern const wl_interface kPointerInterface;
const wl_interface* kCreateTypes[] = {&wl_seat_interface, &kPointerInterface};

const wl_message kManagerRequests[] = {
    {"create_virtual_pointer", "?on", kCreateTypes},
    {"destroy", "", kNoTypes},
};
const wl_message kPointerRequests[] = {
    {"motion", "uff", kNoTypes},   {"motion_absolute", "uuuuu", kNoTypes},
    {"button", "uuu", kNoTypes},   {"axis", "uuf", kNoTypes},
    {"frame", "", kNoTypes},       {"axis_source", "u", kNoTypes},
    {"axis_stop", "uu", kNoTypes}, {"axis_discrete", "uufi", kNoTypes},
    {"destroy", "", kNoTypes},
};
const wl_interface kManagerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};
const wl_interface kPointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                        kPointerRequests,          0, nullptr};
enum PointerRequest : std::uint32_t { MotionAbsolute = 1, Button = 2, Frame = 4 };

wl_proxy* s_manager = nullptr;

void global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
  if (std::string_view(interface) == kManagerInterface.name)
    s_manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kManagerInterface, 1));
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}

void send(wl_proxy* pointer, std::uint32_t opcode, auto... arguments) {
  wl_proxy_marshal_flags(pointer, opcode, nullptr, 1, 0, arguments...);
}

std::uint32_t now() {
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC, &time);
  return std::uint32_t(time.tv_sec * 1000 + time.tv_nsec / 1000000);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  std::uint32_t values[4];
  for (int i = 0; i < 4; ++i) values[i] = std::uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return 1;
  static const wl_registry_listener listener = {global, globalRemove};
  wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
  wl_display_roundtrip(display);
  if (!s_manager) return 1;
  wl_proxy* pointer =
      wl_proxy_marshal_flags(s_manager, 0, &kPointerInterface, 1, 0, nullptr, nullptr);
  wl_display_roundtrip(display);
  // The compositor gives the new device to the seat first; the pointer then enters the surface
  // below it before the press.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  send(pointer, MotionAbsolute, now(), values[0], values[1], values[2], values[3]);
  send(pointer, Frame);
  wl_display_roundtrip(display);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  send(pointer, Button, now(), std::uint32_t(BTN_LEFT), std::uint32_t(1));
  send(pointer, Frame);
  wl_display_roundtrip(display);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  send(pointer, Button, now(), std::uint32_t(BTN_LEFT), std::uint32_t(0));
  send(pointer, Frame);
  wl_display_roundtrip(display);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  wl_display_disconnect(display);
  return 0;
}
