#include <atspi/atspi.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

using testing_support::ChildOptions;
using testing_support::ChildOutput;
using testing_support::eventually;
using testing_support::readFile;
using testing_support::Subprocess;
using testing_support::VirtualDisplay;

namespace {

// An accessible object of the AT-SPI client library, released when it goes.
using Accessible = std::unique_ptr<AtspiAccessible, decltype(&g_object_unref)>;
Accessible hold(AtspiAccessible* object) { return Accessible(object, &g_object_unref); }

std::string nameOf(AtspiAccessible* object) {
  gchar* name = atspi_accessible_get_name(object, nullptr);
  std::string result = name ? name : "";
  g_free(name);
  return result;
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
  atspi_accessible_clear_cache(object);
  AtspiStateSet* states = atspi_accessible_get_state_set(object);
  bool has = states && atspi_state_set_contains(states, state);
  if (states) g_object_unref(states);
  return has;
}

// The first object below `root` (depth first) with `role` and, unless empty, `name`.
Accessible find(AtspiAccessible* root, AtspiRole role, const std::string& name = "") {
  gint count = atspi_accessible_get_child_count(root, nullptr);
  for (gint i = 0; i < count; ++i) {
    Accessible child = hold(atspi_accessible_get_child_at_index(root, i, nullptr));
    if (!child) continue;
    if (atspi_accessible_get_role(child.get(), nullptr) == role &&
        (name.empty() || nameOf(child.get()) == name))
      return child;
    if (Accessible found = find(child.get(), role, name)) return found;
  }
  return hold(nullptr);
}

// The built agent's debug pop-up on a private X server and a private session bus, whose
// accessibility bus and registry start on demand as on a desktop, reached as a screen reader
// reaches it.
class AccessiblePopUp : public testing_support::HomeTest {
 protected:
  // One session bus for the suite: the client library connects once per process.
  static void SetUpTestSuite() {
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/libexec/at-spi-bus-launcher"}) {
      if (access(tool, X_OK) != 0) {
        s_why = std::string(tool) + " is not installed";
        return;
      }
    }
    char folder[] = "/tmp/mendkit-bus-XXXXXX";
    if (!mkdtemp(folder)) return;
    const std::string addressFile = std::string(folder) + "/address";
    s_bus = new Subprocess(
        {"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c",
         "echo \"$DBUS_SESSION_BUS_ADDRESS\" > \"$0\"; exec cat", addressFile},
        ChildOptions{.output = ChildOutput::Discarded, .input = true, .newProcessGroup = true});
    std::string address;
    bool started = eventually(
        [&] {
          address = readFile(addressFile).value_or("");
          return address.ends_with("\n");
        },
        10);
    std::filesystem::remove_all(folder);
    if (!started) {
      s_why = "no session bus";
      return;
    }
    address.pop_back();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    unsetenv("AT_SPI_BUS_ADDRESS");
    if (atspi_init() != 0) s_why = "the AT-SPI client library did not start";
  }
  static void TearDownTestSuite() {
    if (s_bus) s_bus->wait(10);
    delete s_bus;
    s_bus = nullptr;
  }

  void SetUp() override {
    if (!display.available()) GTEST_SKIP() << display.why();
    if (!s_why.empty()) GTEST_SKIP() << s_why;
    _listener = atspi_event_listener_new(
        [](AtspiEvent* event, void* seen) {
          static_cast<std::vector<std::string>*>(seen)->push_back(std::string(event->type) + " " +
                                                                  std::to_string(event->detail1));
          g_boxed_free(ATSPI_TYPE_EVENT, event);
        },
        &_events, nullptr);
    for (const char* type :
         {"window:create", "object:state-changed:showing", "object:state-changed:checked"})
      atspi_event_listener_register(_listener, type, nullptr);

    std::filesystem::create_directories(sandbox.inRoot("Applications"));
    std::filesystem::copy(MENDKIT_SAMPLE_BUNDLE, sandbox.inRoot("Applications/Mendkit.app"),
                          std::filesystem::copy_options::recursive);
    _agent = std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, "-debug1"},
        ChildOptions{.environment = {"DISPLAY=" + display.name(), "PLATFORM_BACKEND="},
                     .output = ChildOutput::Interleaved});
    ASSERT_TRUE(eventually([&] { return (_app = agentApplication()) != nullptr; }, 20))
        << "the agent is not registered with the accessibility bus";
    ASSERT_TRUE(eventually(
        [&] {
          return (_window = find(_app.get(), ATSPI_ROLE_NOTIFICATION)) &&
                 hasState(_window.get(), ATSPI_STATE_SHOWING);
        },
        10))
        << "no showing notification window";
  }

  void TearDown() override {
    if (_listener) {
      atspi_event_listener_deregister(_listener, "window:create", nullptr);
      atspi_event_listener_deregister(_listener, "object:state-changed:showing", nullptr);
      g_object_unref(_listener);
    }
    _window.reset();
    _app.reset();
    _agent.reset();
  }

  // The agent's application object among the desktop's, or null.
  Accessible agentApplication() const {
    Accessible desktop = hold(atspi_get_desktop(0));
    gint count = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (gint i = 0; i < count; ++i) {
      Accessible app = hold(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
      if (app && atspi_accessible_get_process_id(app.get(), nullptr) == guint(_agent->pid()))
        return app;
    }
    return hold(nullptr);
  }

  static bool click(AtspiAccessible* control) {
    AtspiAction* action = atspi_accessible_get_action_iface(control);
    if (!action) return false;
    gchar* name = atspi_action_get_action_name(action, 0, nullptr);
    bool isClick = name && std::string(name) == "click";
    g_free(name);
    bool done = isClick && atspi_action_do_action(action, 0, nullptr);
    g_object_unref(action);
    return done;
  }

  // Whether the event "type detail1" comes within a few seconds (delivered from GLib's loop).
  bool heard(const std::string& event) {
    return eventually(
        [&] {
          while (g_main_context_iteration(nullptr, FALSE)) {
          }
          return std::find(_events.begin(), _events.end(), event) != _events.end();
        },
        5);
  }

  std::string spool() const {
    return readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("");
  }
  bool spoolGets(int event) const {
    const std::string entry = "\"event\":" + std::to_string(event);
    return eventually([&] { return spool().find(entry) != std::string::npos; }, 10);
  }

  static Subprocess* s_bus;
  static std::string s_why;
  VirtualDisplay display;
  std::unique_ptr<Subprocess> _agent;
  AtspiEventListener* _listener = nullptr;
  std::vector<std::string> _events;  // "type detail1", as they came
  Accessible _app = hold(nullptr);
  Accessible _window = hold(nullptr);
};

Subprocess* AccessiblePopUp::s_bus = nullptr;
std::string AccessiblePopUp::s_why;

}  // namespace

// The message is read through the text interface and names the window; the controls are found
// by role and caption; the accept button's action does what its click does; the pop-up took no
// keyboard focus for showing.
TEST_F(AccessiblePopUp, AScreenReaderReadsTheMessageAndAccepts) {
  Accessible label = find(_window.get(), ATSPI_ROLE_LABEL);
  ASSERT_TRUE(label);
  AtspiText* text = atspi_accessible_get_text_iface(label.get());
  ASSERT_TRUE(text);
  gchar* message = atspi_text_get_text(text, 0, -1, nullptr);
  std::string read = message ? message : "";
  g_free(message);
  g_object_unref(text);
  EXPECT_TRUE(read.starts_with("iTunes could not update or restore your device")) << read;
  EXPECT_EQ(nameOf(_window.get()), read);
  EXPECT_FALSE(hasState(_window.get(), ATSPI_STATE_ACTIVE)) << "the pop-up took the focus";
  EXPECT_TRUE(heard("window:create 0")) << "the showing was not announced";
  EXPECT_TRUE(heard("object:state-changed:showing 1")) << "the showing was not announced";

  EXPECT_TRUE(find(_window.get(), ATSPI_ROLE_PUSH_BUTTON, "Not Now"));
  EXPECT_TRUE(find(_window.get(), ATSPI_ROLE_CHECK_BOX, "Don’t show again"));
  Accessible accept = find(_window.get(), ATSPI_ROLE_PUSH_BUTTON, "Open Mendkit");
  ASSERT_TRUE(accept);
  ASSERT_TRUE(click(accept.get()));

  const std::string opened = sandbox.inHome("mendkit-opened.log");
  EXPECT_TRUE(
      eventually([&] { return readFile(opened).value_or("").ends_with("arguments: 10216\n"); }, 10))
      << readFile(opened).value_or("Mendkit was not opened");
  EXPECT_TRUE(spoolGets(10212)) << spool();
  EXPECT_TRUE(eventually([&] { return !hasState(_window.get(), ATSPI_STATE_SHOWING); }, 10))
      << "the hidden pop-up is still showing to a screen reader";
}

// The check box's action toggles it as a click does: the setting is stored, the box reads
// checked, and the pop-up stays.
TEST_F(AccessiblePopUp, TheCheckBoxActionStoresNeverShowAgain) {
  Accessible box = find(_window.get(), ATSPI_ROLE_CHECK_BOX);
  ASSERT_TRUE(box);
  EXPECT_FALSE(hasState(box.get(), ATSPI_STATE_CHECKED));
  ASSERT_TRUE(click(box.get()));
  auto stored = [&] {
    auto defaults = foundation::readPropertyListFile(
        sandbox.inHome("Library/Preferences/com.kelvanoria.Mendkit.agent.plist"));
    const foundation::PlistValue* flag =
        defaults ? defaults->objectForKey("NeverPopDialog") : nullptr;
    return flag && flag->boolValue() == true;
  };
  EXPECT_TRUE(eventually(stored, 10)) << "NeverPopDialog is not stored";
  EXPECT_TRUE(eventually([&] { return hasState(box.get(), ATSPI_STATE_CHECKED); }, 5));
  EXPECT_TRUE(heard("object:state-changed:checked 1")) << "the check was not announced";
  EXPECT_TRUE(hasState(_window.get(), ATSPI_STATE_SHOWING)) << "the check box hid the pop-up";
}
