#pragma once

#include <unordered_map>
#include <vector>

typedef struct _AtkObject AtkObject;

namespace appkit {

class View;
class Window;

// The accessible objects of the application: its root (the application), one for each window
// that has shown and one for each view asked for, made at first need and kept until their window
// or view goes. It turns what the window code reports into ATK's signals. Owns one reference to
// each object; an object whose window or view is gone stays valid for whoever still holds it but
// reports itself defunct. Main thread only.
class AccessibleTree {
 public:
  AccessibleTree();
  ~AccessibleTree();
  AccessibleTree(const AccessibleTree&) = delete;
  AccessibleTree& operator=(const AccessibleTree&) = delete;

  AtkObject* root() const { return _root; }
  AtkObject* objectFor(Window& window);
  AtkObject* objectFor(View& view);
  // The windows that have shown and still exist, in the order they first showed.
  const std::vector<Window*>& windows() const { return _windows; }

  void windowDidShow(Window& window);
  // Announces a shown window to screen readers, as windowDidShow does; for a showing that came
  // before the bridge knew its listeners. Nothing for a window that is gone or hidden.
  void announce(Window* window);
  void windowDidHide(Window& window);
  void windowWillClose(Window& window);
  void viewWillDisappear(View& view);
  void focusDidChange(Window& window, View* focused);
  void valueDidChange(View& view);

 private:
  AtkObject* existing(const void* target) const;
  void forget(const void* target);

  AtkObject* _root;
  std::unordered_map<const void*, AtkObject*> _objects;
  std::vector<Window*> _windows;
  Window* _keyWindow = nullptr;
  View* _focused = nullptr;
};

}  // namespace appkit
