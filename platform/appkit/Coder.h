#pragma once

#include <set>
#include <string>
#include <string_view>

#include "foundation/PropertyList.h"

namespace appkit {

// A read-only view of one object entry of a window layout, handed to Object::initWithCoder: the
// entry's id, its class name and the values of its `properties` dictionary. Valid only during
// that call. Keys that were decoded count as known to the loader even when the class has no
// property or attribute of that name (see LAYOUT.md).
class Coder {
 public:
  // `properties` may be null for an entry without properties; it must outlive the coder.
  Coder(std::string objectId, std::string className, const foundation::PlistDictionary* properties)
      : _objectId(std::move(objectId)), _className(std::move(className)), _properties(properties) {}

  const std::string& objectId() const { return _objectId; }
  const std::string& className() const { return _className; }

  // The value of the property `key`, or null when the entry has none.
  const foundation::PlistValue* decodeObjectForKey(std::string_view key) const {
    std::string name(key);
    if (!_properties) return nullptr;
    auto found = _properties->find(name);
    if (found == _properties->end()) return nullptr;
    _decoded.insert(std::move(name));
    return &found->second;
  }

  // The keys present in the entry that decodeObjectForKey was asked for.
  const std::set<std::string>& decodedKeys() const { return _decoded; }

 private:
  std::string _objectId;
  std::string _className;
  const foundation::PlistDictionary* _properties;
  mutable std::set<std::string> _decoded;
};

}  // namespace appkit
