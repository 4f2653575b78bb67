#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace appkit {

class Coder;
class Object;

namespace detail {
struct ObserverTable;
}

// Keeps one observer of an Object registered: destroying or resetting the token removes it. The
// token may outlive the object (it then removes nothing) and the object may outlive the token.
// Move-only; main thread, like the object.
class ObservationToken {
 public:
  ObservationToken() = default;
  ~ObservationToken() { reset(); }
  ObservationToken(ObservationToken&& other) noexcept;
  ObservationToken& operator=(ObservationToken&& other) noexcept;
  ObservationToken(const ObservationToken&) = delete;
  ObservationToken& operator=(const ObservationToken&) = delete;

  // Removes the observer now; afterwards it is never called again, even by a notification that is
  // in progress.
  void reset();

 private:
  friend class Object;
  ObservationToken(std::weak_ptr<detail::ObserverTable> table, std::string key, std::uint64_t id)
      : _table(std::move(table)), _key(std::move(key)), _id(id) {}

  std::weak_ptr<detail::ObserverTable> _table;
  std::string _key;
  std::uint64_t _id = 0;
};

// The root class of everything a window layout creates. Objects are owned by the Layout that
// made them; references between them are plain pointers. Not thread-safe: objects of a layout
// belong to the main thread.
class Object {
 public:
  // What a control sends: the target's action, bound by the layout loader, called with the sender.
  using Action = std::function<void(Object* sender)>;

  Object() = default;
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Called by the layout loader right after the object is made, with the object's layout entry,
  // before any property, outlet or connection is set. False when the entry does not describe a
  // usable object, which fails the load. The default accepts every entry.
  virtual bool initWithCoder(const Coder& coder);

  // Called once on every object of a layout, in layout order, after all of them have been created
  // and connected; never called when the layout fails to load.
  virtual void awakeFromNib() {}

  // Receives a target-action connection of the layout: `action` calls `selector` on `target`.
  // Classes that send actions (controls) keep it and answer true; the default answers false, which
  // the loader reports as an error.
  virtual bool setAction(Object* target, const std::string& selector, Action action);

  // Main thread. Calls `observer` after each didChangeValueForKey(key) on this object, until the
  // token is reset or destroyed. Observers of one key run in the order they were added.
  [[nodiscard]] ObservationToken addObserver(std::string key, std::function<void()> observer);

  // Main thread. Announces that the attribute `key` has a new value: calls its observers at once.
  // Whoever changes an attribute calls this afterwards (a control after the user changed it, a
  // delegate after changing a flag, a binding after copying a value in). Observers may add or
  // remove observers, and may destroy this object (the remaining observers are then skipped).
  void didChangeValueForKey(std::string_view key);

 private:
  std::shared_ptr<detail::ObserverTable> _observers;  // made by the first addObserver
};

}  // namespace appkit
