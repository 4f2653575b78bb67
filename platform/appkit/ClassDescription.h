#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "appkit/Object.h"

#include "foundation/PropertyList.h"

namespace appkit {

// What the layout loader knows of one class: how to make an instance and the tables of its
// properties, attributes, outlets, outlet collections and actions by name. The tables hold only the
// class's own entries; those of its superclass (by name, also registered) are found through the
// registry. A plain value.
struct ClassDescription {
  // Sets a property from its layout value; false when the value does not fit.
  using PropertySetter = std::function<bool(Object& self, const foundation::PlistValue& value)>;
  // Points an outlet at another object of the layout; false when that object does not fit.
  using OutletSetter = std::function<bool(Object& self, Object* target)>;
  // Adds one object to an outlet collection; false when that object does not fit.
  using OutletAdder = std::function<bool(Object& self, Object* element)>;
  // A key-value attribute: what bindings read and write. `get` answers nullopt when the object
  // has no value now; `set` answers false when the value does not fit. Neither announces the
  // change (see Object::didChangeValueForKey).
  struct Attribute {
    std::function<std::optional<foundation::PlistValue>(const Object& self)> get;
    std::function<bool(Object& self, const foundation::PlistValue& value)> set;
  };
  // Calls an action method on `self` on behalf of `sender`.
  using ActionMethod = std::function<void(Object& self, Object* sender)>;

  std::string name;
  std::string superclass;                            // "" for a class with no registered superclass
  std::function<std::unique_ptr<Object>()> factory;  // null for a class that can't be made
  std::map<std::string, PropertySetter> properties;
  std::map<std::string, Attribute> attributes;
  std::map<std::string, OutletSetter> outlets;
  std::map<std::string, OutletAdder> outletCollections;
  std::map<std::string, ActionMethod> actions;  // by selector, such as "onOkBtn:"
};

}  // namespace appkit
