#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "appkit/Binding.h"
#include "appkit/ClassDescription.h"
#include "appkit/Layout.h"
#include "foundation/PropertyList.h"
#include "foundation/Result.h"

namespace appkit {

// Turns a parsed layout into a Layout, checking every part of it as it goes. One use per
// instance; internal to Layout::loadFromValue.
class LayoutBuilder {
 public:
  LayoutBuilder(const ClassRegistry& registry, std::string source);
  // The layout, awoken, or the first error found (then every object made is destroyed).
  LayoutResult build(const foundation::PlistValue& root);

 private:
  struct Entry {
    std::string id;
    std::string className;
    const foundation::PlistDictionary* description;
    Object* object;
    std::set<std::string> decodedKeys;  // properties that initWithCoder read
  };

  using Step = foundation::Result<void>;

  // The error `message`, prefixed with the layout's source.
  foundation::Error fail(const std::string& message) const;
  Step buildSteps(const foundation::PlistValue& root);
  Step checkKeys(const foundation::PlistDictionary& dictionary,
                 const std::vector<std::string>& known, const std::string& where);
  Step createObjects(const foundation::PlistValue& objects);
  Step setProperties(const Entry& entry);
  Step setOutlets(const Entry& entry);
  Step connect(const foundation::PlistValue& connections);
  Step connectAction(const foundation::PlistDictionary& connection, const std::string& where);
  Step connectBinding(const foundation::PlistDictionary& connection, const std::string& where);
  // The side of a binding that is attribute `key` of `entry`'s object; setting it announces it.
  static Binding::Endpoint attributeEndpoint(const Entry& entry, const std::string& key,
                                             const ClassDescription::Attribute& attribute);
  Step setOutletCollection(const Entry& entry, const std::string& name,
                           const foundation::PlistValue& value,
                           const ClassDescription::OutletAdder& adder);
  Step designateDelegate(const foundation::PlistValue& id);
  const Entry* entryWithId(const std::string& id) const;
  static std::string describe(const Entry& entry);

  const ClassRegistry& _registry;
  std::string _source;
  std::unique_ptr<Layout> _layout;
  std::vector<Entry> _entries;
};

}  // namespace appkit
