#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "appkit/Object.h"
#include "foundation/PropertyList.h"

namespace appkit {

// Keeps a key-value attribute of one object and one of another in step, both ways; made by the
// layout loader for a `binding` connection and owned by the Layout. Main thread.
//
// When made, the source takes the target's value if the target has one (nothing happens when it
// has none). Afterwards every announced change (Object::didChangeValueForKey) of either side is
// copied to the other, unless the other already holds an equal value; a change the binding itself
// makes is not copied back. A value the other side refuses is logged and left out. Destroying the
// binding removes its observers from both objects, whichever of them is gone already.
class Binding {
 public:
  // One side: an attribute of `object`. `set` stores and announces the new value; false when the
  // value does not fit. `get` answers nullopt when there is no value.
  struct Endpoint {
    Object* object = nullptr;
    std::string key;
    std::string description;  // for the log, such as "object 'ok' (Button) 'value'"
    std::function<std::optional<foundation::PlistValue>()> get;
    std::function<bool(const foundation::PlistValue&)> set;
  };

  Binding(Endpoint source, Endpoint target);
  ~Binding();
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

 private:
  void copy(const Endpoint& from, const Endpoint& to);

  Endpoint _source;
  Endpoint _target;
  bool _copying = false;
  std::shared_ptr<bool> _alive;  // false once destroyed, for a copy during which that happened
  ObservationToken _sourceObservation;
  ObservationToken _targetObservation;
};

}  // namespace appkit
