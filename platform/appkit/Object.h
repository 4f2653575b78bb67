#pragma once

#include <functional>
#include <string>

namespace appkit {

// The root class of everything a window layout creates. Objects are owned by the Layout that
// made them; references between them are plain pointers. Not thread-safe: objects of a layout
// belong to the main thread.
class Object {
 public:
  // What a control sends: the target's action, bound by the layout loader, called with the sender.
  using Action = std::function<void(Object* sender)>;

  Object() = default;
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Called once on every object of a layout, in layout order, after all of them have been created
  // and connected; never called when the layout fails to load.
  virtual void awakeFromLayout() {}

  // Receives a target-action connection of the layout: `action` calls `selector` on `target`.
  // Classes that send actions (controls) keep it and answer true; the default answers false, which
  // the loader reports as an error.
  virtual bool setAction(Object* target, const std::string& selector, Action action);
};

}  // namespace appkit
