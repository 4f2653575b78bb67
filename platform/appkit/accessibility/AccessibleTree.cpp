#include "appkit/accessibility/AccessibleTree.h"

#include <atk/atk.h>

#include <algorithm>

#include "appkit/Cell.h"
#include "appkit/Control.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/accessibility/AccessibleObject.h"

namespace appkit {

AccessibleTree::AccessibleTree() : _root(accessibleApplicationNew(*this)) {}

AccessibleTree::~AccessibleTree() {
  for (auto& [target, object] : _objects) {
    accessibleDetach(object);
    g_object_unref(object);
  }
  g_object_unref(_root);
}

AtkObject* AccessibleTree::existing(const void* target) const {
  auto it = _objects.find(target);
  return it == _objects.end() ? nullptr : it->second;
}

AtkObject* AccessibleTree::objectFor(Window& window) {
  if (AtkObject* object = existing(&window)) return object;
  return _objects[&window] = accessibleWindowNew(*this, window);
}

AtkObject* AccessibleTree::objectFor(View& view) {
  if (AtkObject* object = existing(&view)) return object;
  return _objects[&view] = accessibleViewNew(*this, view);
}

void AccessibleTree::forget(const void* target) {
  auto it = _objects.find(target);
  if (it == _objects.end()) return;
  AtkObject* object = it->second;
  _objects.erase(it);
  accessibleDetach(object);
  g_object_unref(object);
}

void AccessibleTree::windowDidShow(Window& window) {
  AtkObject* object = objectFor(window);
  if (std::find(_windows.begin(), _windows.end(), &window) == _windows.end()) {
    _windows.push_back(&window);
    g_signal_emit_by_name(_root, "children-changed::add", static_cast<gint>(_windows.size() - 1),
                          object);
  }
  announce(&window);
}

void AccessibleTree::announce(Window* window) {
  if (std::find(_windows.begin(), _windows.end(), window) == _windows.end() ||
      !window->isVisible())
    return;
  AtkObject* object = objectFor(*window);
  // Its text may have changed while it was hidden.
  g_object_notify(G_OBJECT(object), "accessible-name");
  // For screen readers, a notification that starts showing is announced with its text; the
  // window does not take the keyboard focus for it.
  g_signal_emit_by_name(object, "create");
  atk_object_notify_state_change(object, ATK_STATE_VISIBLE, TRUE);
  atk_object_notify_state_change(object, ATK_STATE_SHOWING, TRUE);
}

void AccessibleTree::windowDidHide(Window& window) {
  AtkObject* object = existing(&window);
  if (!object) return;
  atk_object_notify_state_change(object, ATK_STATE_SHOWING, FALSE);
  atk_object_notify_state_change(object, ATK_STATE_VISIBLE, FALSE);
}

void AccessibleTree::windowWillClose(Window& window) {
  if (_keyWindow == &window) {
    _keyWindow = nullptr;
    _focused = nullptr;
  }
  auto it = std::find(_windows.begin(), _windows.end(), &window);
  if (it != _windows.end()) {
    auto index = static_cast<gint>(it - _windows.begin());
    _windows.erase(it);
    if (AtkObject* object = existing(&window)) {
      g_signal_emit_by_name(object, "destroy");
      g_signal_emit_by_name(_root, "children-changed::remove", index, object);
    }
  }
  forget(&window);
}

void AccessibleTree::viewWillDisappear(View& view) {
  if (_focused == &view) _focused = nullptr;
  forget(&view);
}

void AccessibleTree::focusDidChange(Window& window, View* focused) {
  if (_focused && _focused != focused) {
    if (AtkObject* previous = existing(_focused))
      atk_object_notify_state_change(previous, ATK_STATE_FOCUSED, FALSE);
    _focused = nullptr;
  }
  bool active = focused || window.keyboard().isActive();
  if (active && _keyWindow != &window) {
    _keyWindow = &window;
    AtkObject* object = objectFor(window);
    g_signal_emit_by_name(object, "activate");
    atk_object_notify_state_change(object, ATK_STATE_ACTIVE, TRUE);
  } else if (!active && _keyWindow == &window) {
    _keyWindow = nullptr;
    if (AtkObject* object = existing(&window)) {
      g_signal_emit_by_name(object, "deactivate");
      atk_object_notify_state_change(object, ATK_STATE_ACTIVE, FALSE);
    }
  }
  if (focused && focused != _focused) {
    _focused = focused;
    atk_object_notify_state_change(objectFor(*focused), ATK_STATE_FOCUSED, TRUE);
  }
}

void AccessibleTree::valueDidChange(View& view) {
  AtkObject* object = existing(&view);
  if (!object) return;
  g_object_notify(G_OBJECT(object), "accessible-name");
  if (view.accessibilityRole() == AccessibilityRole::CheckBox) {
    auto* control = dynamic_cast<Control*>(&view);
    atk_object_notify_state_change(object, ATK_STATE_CHECKED,
                                   control && control->state() == Cell::On);
  }
  // A window is named after its first label.
  if (Window* window = view.window()) {
    if (AtkObject* windowObject = existing(window))
      g_object_notify(G_OBJECT(windowObject), "accessible-name");
  }
}

}  // namespace appkit
