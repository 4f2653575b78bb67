#include "appkit/accessibility/Accessibility.h"

#include <atk-bridge.h>
#include <atk/atk.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "appkit/RunLoop.h"
#include "appkit/accessibility/AccessibleTree.h"
#include "appkit/accessibility/GLibMainContextSource.h"
#include "foundation/Log.h"

namespace appkit {
namespace {

// The process's link to the accessibility bus, made once.
struct Connection {
  AccessibleTree tree;
  GLibMainContextSource glib{RunLoop::main()};
};

// Time enough for the bridge to hear from the registry who listens.
constexpr foundation::TimeInterval kListenersKnown = foundation::TimeInterval::milliseconds(500);

bool s_enabled = false;
bool s_tried = false;
Connection* s_connection = nullptr;

// ATK finds the application's root and names the toolkit through the class of its utility
// object: this subclass fills in those entries of the base class.
struct AppkitAccessibleUtil {
  AtkUtil parent;
};
struct AppkitAccessibleUtilClass {
  AtkUtilClass parent_class;
};
G_DEFINE_TYPE(AppkitAccessibleUtil, appkit_accessible_util, ATK_TYPE_UTIL)

AtkObject* rootObject() { return s_connection ? s_connection->tree.root() : nullptr; }
const gchar* toolkitName() { return "appkit"; }
const gchar* toolkitVersion() { return "1.0"; }

void appkit_accessible_util_init(AppkitAccessibleUtil*) {}
void appkit_accessible_util_class_init(AppkitAccessibleUtilClass*) {
  auto* base = static_cast<AtkUtilClass*>(g_type_class_peek(ATK_TYPE_UTIL));
  base->get_root = rootObject;
  base->get_toolkit_name = toolkitName;
  base->get_toolkit_version = toolkitVersion;
}

// Whether the session has a message bus to ask for the accessibility bus. A bus socket that is
// not in the environment is put there, so that nothing tries to launch a bus of its own.
bool sessionBusKnown() {
  if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address && *address) return true;
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;
  std::string socket = std::string(runtime) + "/bus";
  struct stat info {};
  if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
  return true;
}

// What GLib-based libraries say while the bridge starts: the first message is kept as the reason
// of a failure, and nothing reaches the terminal on its own.
std::string s_startMessage;
void keepFirstMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  if (s_startMessage.empty() && message) s_startMessage = message;
}

void connect() {
  s_tried = true;
  if (!sessionBusKnown()) {
    foundation::NSLog(
        "appkit: no session bus, so no accessibility bus: screen readers cannot reach the windows");
    return;
  }
  if (!g_get_prgname()) g_set_prgname(program_invocation_short_name);
  s_connection = new Connection();
  g_type_class_unref(g_type_class_ref(appkit_accessible_util_get_type()));
  GLogFunc previous = g_log_set_default_handler(keepFirstMessage, nullptr);
  int failed = atk_bridge_adaptor_init(nullptr, nullptr);
  g_log_set_default_handler(previous, nullptr);
  if (failed) {
    foundation::NSLog("appkit: no accessibility bus (%s): screen readers cannot reach the windows",
                      s_startMessage.empty() ? "the bridge did not start" : s_startMessage.c_str());
    delete s_connection;
    s_connection = nullptr;
  }
}

}  // namespace

void Accessibility::enable() { s_enabled = true; }

bool Accessibility::isConnected() { return s_connection != nullptr; }

void Accessibility::windowDidShow(Window& window) {
  bool connecting = s_enabled && !s_tried;
  if (connecting) connect();
  if (!s_connection) return;
  s_connection->tree.windowDidShow(window);
  // The bridge learns who listens to which events from the registry after it starts, and drops
  // what comes before: the showing that started it is announced again once it knows.
  if (connecting) {
    RunLoop::main().addTimer(kListenersKnown, foundation::TimeInterval(), [window = &window] {
      if (s_connection) s_connection->tree.announce(window);
    });
  }
}

void Accessibility::windowDidHide(Window& window) {
  if (s_connection) s_connection->tree.windowDidHide(window);
}

void Accessibility::windowWillClose(Window& window) {
  if (s_connection) s_connection->tree.windowWillClose(window);
}

void Accessibility::viewWillDisappear(View& view) {
  if (s_connection) s_connection->tree.viewWillDisappear(view);
}

void Accessibility::focusDidChange(Window& window, View* focused) {
  if (s_connection) s_connection->tree.focusDidChange(window, focused);
}

void Accessibility::valueDidChange(View& view) {
  if (s_connection) s_connection->tree.valueDidChange(view);
}

}  // namespace appkit
