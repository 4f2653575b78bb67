#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "appkit/Object.h"

namespace foundation {
class PlistValue;
}

namespace appkit {

// What the layout loader knows of one class: how to make an instance and the tables of its
// properties, outlets and actions by name. The tables hold only the class's own entries; those of
// its superclass (by name, also registered) are found through the registry. A plain value.
struct ClassDescription {
  // Sets a property from its layout value; false when the value does not fit.
  using PropertySetter = std::function<bool(Object& self, const foundation::PlistValue& value)>;
  // Points an outlet at another object of the layout; false when that object does not fit.
  using OutletSetter = std::function<bool(Object& self, Object* target)>;
  // Calls an action method on `self` on behalf of `sender`.
  using ActionMethod = std::function<void(Object& self, Object* sender)>;

  std::string name;
  std::string superclass;                            // "" for a class with no registered superclass
  std::function<std::unique_ptr<Object>()> factory;  // null for a class that can't be made
  std::map<std::string, PropertySetter> properties;
  std::map<std::string, OutletSetter> outlets;
  std::map<std::string, ActionMethod> actions;  // by selector, such as "onOkBtn:"
};

}  // namespace appkit
