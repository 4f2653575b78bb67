#pragma once

#include <memory>
#include <string>
#include <vector>

#include "appkit/Layout.h"
#include "foundation/PropertyList.h"

namespace appkit {

// Turns a parsed layout into a Layout, checking every part of it as it goes. One use per
// instance; internal to Layout::loadFromValue.
class LayoutBuilder {
 public:
  LayoutBuilder(const ClassRegistry& registry, std::string source);
  LayoutResult build(const foundation::PlistValue& root);

 private:
  struct Entry {
    std::string id;
    std::string className;
    const foundation::PlistDictionary* description;
    Object* object;
  };

  bool fail(const std::string& message);
  bool checkKeys(const foundation::PlistDictionary& dictionary,
                 const std::vector<std::string>& known, const std::string& where);
  bool createObjects(const foundation::PlistValue& objects);
  bool setProperties(const Entry& entry);
  bool setOutlets(const Entry& entry);
  bool connect(const foundation::PlistValue& connections);
  bool connectAction(const foundation::PlistDictionary& connection, const std::string& where);
  bool designateDelegate(const foundation::PlistValue& id);
  const Entry* entryWithId(const std::string& id) const;
  static std::string describe(const Entry& entry);

  const ClassRegistry& _registry;
  std::string _source;
  std::string _error;
  std::unique_ptr<Layout> _layout;
  std::vector<Entry> _entries;
};

}  // namespace appkit
