#include "appkit/Layout.h"

#include "appkit/Binding.h"
#include "appkit/ClassRegistry.h"
#include "appkit/LayoutBuilder.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/Object.h"
#include "foundation/PropertyList.h"

namespace appkit {

LayoutResult Layout::load(const std::string& path) {
  foundation::Result<foundation::PlistValue> root = foundation::readPropertyListFile(path);
  if (!root) return foundation::Error{path + ": not a readable property list"};
  return loadFromValue(*root, path, ClassRegistry::shared());
}

LayoutResult Layout::loadFromValue(const foundation::PlistValue& root, const std::string& source,
                                   const ClassRegistry& registry) {
  // Layouts make views and windows, which belong to the main thread.
  APPKIT_ASSERT_MAIN_THREAD();
  return LayoutBuilder(registry, source).build(root);
}

Layout::~Layout() {
  // Bindings observe objects that outlive the layout (the shared user-defaults controller) with
  // closures that point into it: they go first.
  _bindings.clear();
  while (!_objects.empty()) _objects.pop_back();
}

Object* Layout::objectWithId(std::string_view id) const {
  auto it = _byId.find(id);
  return it == _byId.end() ? nullptr : it->second;
}

}  // namespace appkit
