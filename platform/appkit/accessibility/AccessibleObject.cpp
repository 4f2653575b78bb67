#include "appkit/accessibility/AccessibleObject.h"

#include <atk/atk.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "appkit/Cell.h"
#include "appkit/Control.h"
#include "appkit/KeyboardFocus.h"
#include "appkit/RunLoop.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/WindowBackend.h"
#include "appkit/accessibility/AccessibleTree.h"
#include "dispatch/MainQueue.h"

using appkit::AccessibilityRole;

namespace {

// A window or a view (exactly one of the two until detached).
struct AppkitAccessible {
  AtkObject parent;
  appkit::AccessibleTree* tree;
  appkit::Window* window;
  appkit::View* view;
  gchar* name;  // the last name answered, kept for the caller
};
struct AppkitAccessibleClass {
  AtkObjectClass parent_class;
};

struct AppkitAccessibleWindow {
  AppkitAccessible parent;
};
struct AppkitAccessibleWindowClass {
  AppkitAccessibleClass parent_class;
};
struct AppkitAccessibleControl {
  AppkitAccessible parent;
};
struct AppkitAccessibleControlClass {
  AppkitAccessibleClass parent_class;
};
struct AppkitAccessibleLabel {
  AppkitAccessible parent;
};
struct AppkitAccessibleLabelClass {
  AppkitAccessibleClass parent_class;
};
struct AppkitAccessibleApplication {
  AtkObject parent;
  appkit::AccessibleTree* tree;
};
struct AppkitAccessibleApplicationClass {
  AtkObjectClass parent_class;
};

void appkit_accessible_component_init(AtkComponentIface* iface);
void appkit_accessible_window_iface_init(AtkWindowIface*) {}
void appkit_accessible_action_init(AtkActionIface* iface);
void appkit_accessible_text_init(AtkTextIface* iface);

G_DEFINE_TYPE_WITH_CODE(AppkitAccessible, appkit_accessible, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, appkit_accessible_component_init))
G_DEFINE_TYPE_WITH_CODE(AppkitAccessibleWindow, appkit_accessible_window,
                        appkit_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_WINDOW, appkit_accessible_window_iface_init))
G_DEFINE_TYPE_WITH_CODE(AppkitAccessibleControl, appkit_accessible_control,
                        appkit_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, appkit_accessible_action_init))
G_DEFINE_TYPE_WITH_CODE(AppkitAccessibleLabel, appkit_accessible_label,
                        appkit_accessible_get_type(),
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_TEXT, appkit_accessible_text_init))
G_DEFINE_TYPE(AppkitAccessibleApplication, appkit_accessible_application, ATK_TYPE_OBJECT)

AppkitAccessible* self(gpointer object) {
  return G_TYPE_CHECK_INSTANCE_CAST(object, appkit_accessible_get_type(), AppkitAccessible);
}

// The first label of `view`'s hierarchy, depth first, or null.
const appkit::View* firstLabel(const appkit::View& view) {
  if (view.accessibilityRole() == AccessibilityRole::Label) return &view;
  for (const appkit::View* subview : view.subviews()) {
    if (const appkit::View* label = firstLabel(*subview)) return label;
  }
  return nullptr;
}

std::string labelOf(const AppkitAccessible& accessible) {
  if (accessible.view) return accessible.view->accessibilityLabel();
  if (accessible.window && accessible.window->contentView()) {
    if (const appkit::View* label = firstLabel(*accessible.window->contentView()))
      return label->accessibilityLabel();
  }
  return {};
}

// A view's window, or the object's own window.
appkit::Window* windowOf(const AppkitAccessible& accessible) {
  return accessible.view ? accessible.view->window() : accessible.window;
}

void appkit_accessible_init(AppkitAccessible*) {}

void appkit_accessible_finalize(GObject* object) {
  g_free(self(object)->name);
  G_OBJECT_CLASS(appkit_accessible_parent_class)->finalize(object);
}

const gchar* appkit_accessible_get_name(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  if (!accessible->view && !accessible->window) return nullptr;
  std::string label = labelOf(*accessible);
  if (!accessible->name || label != accessible->name) {
    g_free(accessible->name);
    accessible->name = g_strdup(label.c_str());
  }
  return accessible->name;
}

AtkObject* appkit_accessible_get_parent(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  if (accessible->window) return accessible->tree->root();
  appkit::View* view = accessible->view;
  if (!view) return nullptr;
  if (view->superview()) return accessible->tree->objectFor(*view->superview());
  appkit::Window* window = view->window();
  if (window && window->contentView() == view) return accessible->tree->objectFor(*window);
  return nullptr;
}

gint appkit_accessible_get_n_children(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  if (accessible->window) return accessible->window->contentView() ? 1 : 0;
  return accessible->view ? static_cast<gint>(accessible->view->subviews().size()) : 0;
}

AtkObject* appkit_accessible_ref_child(AtkObject* object, gint index) {
  AppkitAccessible* accessible = self(object);
  appkit::View* child = nullptr;
  if (accessible->window) {
    if (index == 0) child = accessible->window->contentView();
  } else if (accessible->view) {
    const auto& subviews = accessible->view->subviews();
    if (index >= 0 && static_cast<std::size_t>(index) < subviews.size()) child = subviews[index];
  }
  return child ? ATK_OBJECT(g_object_ref(accessible->tree->objectFor(*child))) : nullptr;
}

gint appkit_accessible_get_index_in_parent(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  if (accessible->window) {
    const auto& windows = accessible->tree->windows();
    for (std::size_t i = 0; i < windows.size(); ++i) {
      if (windows[i] == accessible->window) return static_cast<gint>(i);
    }
    return -1;
  }
  if (!accessible->view) return -1;
  appkit::View* superview = accessible->view->superview();
  if (!superview) return 0;
  const auto& siblings = superview->subviews();
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i] == accessible->view) return static_cast<gint>(i);
  }
  return -1;
}

AtkRole appkit_accessible_get_role(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  // A window of the status level or above is a notification, like every pop-up of the desktop.
  if (accessible->window)
    return accessible->window->level() >= appkit::Window::StatusWindowLevel ? ATK_ROLE_NOTIFICATION
                                                                            : ATK_ROLE_WINDOW;
  if (!accessible->view) return ATK_ROLE_INVALID;
  switch (accessible->view->accessibilityRole()) {
    case AccessibilityRole::Label:
      return ATK_ROLE_LABEL;
    case AccessibilityRole::PushButton:
      return ATK_ROLE_PUSH_BUTTON;
    case AccessibilityRole::CheckBox:
      return ATK_ROLE_CHECK_BOX;
    case AccessibilityRole::Group:
      break;
  }
  return ATK_ROLE_PANEL;
}

AtkStateSet* appkit_accessible_ref_state_set(AtkObject* object) {
  AtkStateSet* states = ATK_OBJECT_CLASS(appkit_accessible_parent_class)->ref_state_set(object);
  AppkitAccessible* accessible = self(object);
  appkit::Window* window = windowOf(*accessible);
  if (!window) {
    atk_state_set_add_state(states, ATK_STATE_DEFUNCT);
    return states;
  }
  appkit::View* view = accessible->view;
  bool shown = window->isVisible() && (!view || !view->isHiddenOrHasHiddenAncestor());
  if (shown) {
    atk_state_set_add_state(states, ATK_STATE_VISIBLE);
    atk_state_set_add_state(states, ATK_STATE_SHOWING);
  }
  if (!view) {
    if (window->keyboard().isActive()) atk_state_set_add_state(states, ATK_STATE_ACTIVE);
    return states;
  }
  if (view->accessibilityRole() != AccessibilityRole::Group) {
    atk_state_set_add_state(states, ATK_STATE_ENABLED);
    atk_state_set_add_state(states, ATK_STATE_SENSITIVE);
  }
  if (view->acceptsFirstResponder()) {
    atk_state_set_add_state(states, ATK_STATE_FOCUSABLE);
    if (window->keyboard().isActive() && window->keyboard().focusedView() == view)
      atk_state_set_add_state(states, ATK_STATE_FOCUSED);
  }
  auto* control = dynamic_cast<appkit::Control*>(view);
  if (view->accessibilityRole() == AccessibilityRole::CheckBox && control &&
      control->state() == appkit::Cell::On)
    atk_state_set_add_state(states, ATK_STATE_CHECKED);
  return states;
}

void appkit_accessible_class_init(AppkitAccessibleClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = appkit_accessible_finalize;
  AtkObjectClass* atk = ATK_OBJECT_CLASS(klass);
  atk->get_name = appkit_accessible_get_name;
  atk->get_parent = appkit_accessible_get_parent;
  atk->get_n_children = appkit_accessible_get_n_children;
  atk->ref_child = appkit_accessible_ref_child;
  atk->get_index_in_parent = appkit_accessible_get_index_in_parent;
  atk->get_role = appkit_accessible_get_role;
  atk->ref_state_set = appkit_accessible_ref_state_set;
}

// Component: where the object is, in device pixels.

void appkit_accessible_get_extents(AtkComponent* component, gint* x, gint* y, gint* width,
                                   gint* height, AtkCoordType coordinates) {
  *x = *y = *width = *height = 0;
  AppkitAccessible* accessible = self(component);
  appkit::Window* window = windowOf(*accessible);
  if (!window) return;
  appkit::Rect frame = window->frame();
  appkit::Rect inWindow =
      accessible->view ? accessible->view->convertRectToView(accessible->view->bounds(), nullptr)
                       : appkit::Rect{{0, 0}, frame.size};
  double scale = window->backingScaleFactor();
  // Rows count from the top: of the window, or of the main screen (whose top is the desktop's).
  double left = inWindow.minX();
  double top = frame.size.height - inWindow.maxY();
  if (coordinates == ATK_XY_SCREEN) {
    appkit::Rect screen = appkit::WindowBackend::shared().mainScreen().frame;
    left += frame.minX() - screen.minX();
    top += screen.maxY() - frame.maxY();
  }
  *x = static_cast<gint>(left * scale);
  *y = static_cast<gint>(top * scale);
  *width = static_cast<gint>(inWindow.size.width * scale);
  *height = static_cast<gint>(inWindow.size.height * scale);
}

gboolean appkit_accessible_grab_focus(AtkComponent* component) {
  AppkitAccessible* accessible = self(component);
  appkit::Window* window = windowOf(*accessible);
  if (!window || !window->isVisible()) return FALSE;
  if (accessible->view && !accessible->view->acceptsFirstResponder()) return FALSE;
  window->makeKeyWindow();
  if (accessible->view) window->keyboard().setFocusedView(accessible->view);
  return TRUE;
}

void appkit_accessible_component_init(AtkComponentIface* iface) {
  iface->get_extents = appkit_accessible_get_extents;
  iface->grab_focus = appkit_accessible_grab_focus;
}

// Window: a notification window; nothing beyond its signals.

void appkit_accessible_window_init(AppkitAccessibleWindow*) {}
void appkit_accessible_window_class_init(AppkitAccessibleWindowClass*) {}

// Controls: the "click" action, which clicks them as the mouse would.

void appkit_accessible_control_init(AppkitAccessibleControl*) {}
void appkit_accessible_control_class_init(AppkitAccessibleControlClass*) {}

gint appkit_accessible_get_n_actions(AtkAction*) { return 1; }

const gchar* appkit_accessible_get_action_name(AtkAction*, gint index) {
  return index == 0 ? "click" : nullptr;
}

gboolean appkit_accessible_do_action(AtkAction* action, gint index) {
  AppkitAccessible* accessible = self(action);
  if (index != 0 || !accessible->view) return FALSE;
  // Run from the loop, as a click is: the caller waits for no answer while the action runs.
  g_object_ref(accessible);
  appkit::RunLoop::main().queue().async([accessible] {
    if (accessible->view) accessible->view->performClick();
    g_object_unref(accessible);
  });
  return TRUE;
}

void appkit_accessible_action_init(AtkActionIface* iface) {
  iface->get_n_actions = appkit_accessible_get_n_actions;
  iface->get_name = appkit_accessible_get_action_name;
  iface->do_action = appkit_accessible_do_action;
}

// Labels: their text, read-only, with offsets in characters.

void appkit_accessible_label_init(AppkitAccessibleLabel*) {}
void appkit_accessible_label_class_init(AppkitAccessibleLabelClass*) {}

gchar* appkit_accessible_get_text(AtkText* text, gint start, gint end) {
  AppkitAccessible* accessible = self(text);
  std::string value = accessible->view ? accessible->view->accessibilityLabel() : std::string();
  glong length = g_utf8_strlen(value.c_str(), -1);
  glong from = std::clamp<glong>(start, 0, length);
  glong to = end < 0 ? length : std::clamp<glong>(end, from, length);
  const gchar* first = g_utf8_offset_to_pointer(value.c_str(), from);
  const gchar* last = g_utf8_offset_to_pointer(value.c_str(), to);
  return g_strndup(first, static_cast<gsize>(last - first));
}

gint appkit_accessible_get_character_count(AtkText* text) {
  AppkitAccessible* accessible = self(text);
  if (!accessible->view) return 0;
  return static_cast<gint>(g_utf8_strlen(accessible->view->accessibilityLabel().c_str(), -1));
}

gunichar appkit_accessible_get_character_at_offset(AtkText* text, gint offset) {
  gchar* character = appkit_accessible_get_text(text, offset, offset + 1);
  gunichar value = *character ? g_utf8_get_char(character) : 0;
  g_free(character);
  return value;
}

gint appkit_accessible_get_caret_offset(AtkText*) { return 0; }

void appkit_accessible_text_init(AtkTextIface* iface) {
  iface->get_text = appkit_accessible_get_text;
  iface->get_character_count = appkit_accessible_get_character_count;
  iface->get_character_at_offset = appkit_accessible_get_character_at_offset;
  iface->get_caret_offset = appkit_accessible_get_caret_offset;
}

// The application: the root, whose children are the windows that have shown.

void appkit_accessible_application_init(AppkitAccessibleApplication*) {}

const gchar* appkit_accessible_application_get_name(AtkObject*) {
  const gchar* name = g_get_prgname();
  return name ? name : program_invocation_short_name;
}

gint appkit_accessible_application_get_n_children(AtkObject* object) {
  auto* application = reinterpret_cast<AppkitAccessibleApplication*>(object);
  return static_cast<gint>(application->tree->windows().size());
}

AtkObject* appkit_accessible_application_ref_child(AtkObject* object, gint index) {
  auto* application = reinterpret_cast<AppkitAccessibleApplication*>(object);
  const auto& windows = application->tree->windows();
  if (index < 0 || static_cast<std::size_t>(index) >= windows.size()) return nullptr;
  return ATK_OBJECT(g_object_ref(application->tree->objectFor(*windows[index])));
}

void appkit_accessible_application_class_init(AppkitAccessibleApplicationClass* klass) {
  AtkObjectClass* atk = ATK_OBJECT_CLASS(klass);
  atk->get_name = appkit_accessible_application_get_name;
  atk->get_n_children = appkit_accessible_application_get_n_children;
  atk->ref_child = appkit_accessible_application_ref_child;
}

}  // namespace

namespace appkit {

AtkObject* accessibleApplicationNew(AccessibleTree& tree) {
  auto* application = static_cast<AppkitAccessibleApplication*>(
      g_object_new(appkit_accessible_application_get_type(), nullptr));
  application->tree = &tree;
  AtkObject* object = ATK_OBJECT(application);
  atk_object_set_role(object, ATK_ROLE_APPLICATION);
  return object;
}

AtkObject* accessibleWindowNew(AccessibleTree& tree, Window& window) {
  AppkitAccessible* accessible = self(g_object_new(appkit_accessible_window_get_type(), nullptr));
  accessible->tree = &tree;
  accessible->window = &window;
  return ATK_OBJECT(accessible);
}

AtkObject* accessibleViewNew(AccessibleTree& tree, View& view) {
  GType type = appkit_accessible_get_type();
  switch (view.accessibilityRole()) {
    case AccessibilityRole::PushButton:
    case AccessibilityRole::CheckBox:
      type = appkit_accessible_control_get_type();
      break;
    case AccessibilityRole::Label:
      type = appkit_accessible_label_get_type();
      break;
    case AccessibilityRole::Group:
      break;
  }
  AppkitAccessible* accessible = self(g_object_new(type, nullptr));
  accessible->tree = &tree;
  accessible->view = &view;
  return ATK_OBJECT(accessible);
}

void accessibleDetach(AtkObject* object) {
  AppkitAccessible* accessible = self(object);
  accessible->window = nullptr;
  accessible->view = nullptr;
  atk_object_notify_state_change(object, ATK_STATE_DEFUNCT, TRUE);
}

}  // namespace appkit
