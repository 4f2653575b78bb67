#include "appkit/ClassRegistry.h"

#include "appkit/Control.h"
#include "appkit/View.h"
#include "appkit/ViewController.h"
#include "appkit/Window.h"

#include "foundation/Log.h"

namespace appkit {

ClassRegistry& ClassRegistry::shared() {
  // Deliberately leaked: registrars run during static initialisation, lookups until exit.
  // appkit's own classes are registered here: appkit is a static library, whose file-scope
  // registrars a linker would drop.
  static ClassRegistry* s_registry = [] {
    auto* registry = new ClassRegistry();
    View::registerLayoutClasses(*registry);
    Window::registerLayoutClasses(*registry);
    Control::registerLayoutClasses(*registry);
    ViewController::registerLayoutClasses(*registry);
    return registry;
  }();
  return *s_registry;
}

bool ClassRegistry::registerClass(ClassDescription description) {
  if (description.name.empty()) return false;
  foundation::MutexLock guard(_mutex);
  std::string name = description.name;
  bool inserted = _classes.emplace(name, std::move(description)).second;
  if (!inserted)
    foundation::NSLog("appkit: class %s is registered twice; keeping the first", name.c_str());
  return inserted;
}

const ClassDescription* ClassRegistry::find(std::string_view name) const {
  foundation::MutexLock guard(_mutex);
  auto it = _classes.find(name);
  return it == _classes.end() ? nullptr : &it->second;
}

template <class Entry>
const Entry* ClassRegistry::findInChain(
    std::string_view className, std::string_view key,
    const std::map<std::string, Entry> ClassDescription::*table) const {
  foundation::MutexLock guard(_mutex);
  std::string wanted(key);
  // At most one step per registered class: a cycle of superclass names cannot loop forever.
  for (std::size_t steps = 0; steps <= _classes.size() && !className.empty(); ++steps) {
    auto it = _classes.find(className);
    if (it == _classes.end()) return nullptr;
    const auto& entries = it->second.*table;
    auto entry = entries.find(wanted);
    if (entry != entries.end()) return &entry->second;
    className = it->second.superclass;
  }
  return nullptr;
}

const ClassDescription::PropertySetter* ClassRegistry::findProperty(std::string_view className,
                                                                    std::string_view key) const {
  return findInChain(className, key, &ClassDescription::properties);
}

const ClassDescription::Attribute* ClassRegistry::findAttribute(std::string_view className,
                                                                std::string_view key) const {
  return findInChain(className, key, &ClassDescription::attributes);
}

const ClassDescription::OutletAdder* ClassRegistry::findOutletCollection(
    std::string_view className, std::string_view name) const {
  return findInChain(className, name, &ClassDescription::outletCollections);
}

const ClassDescription::OutletSetter* ClassRegistry::findOutlet(std::string_view className,
                                                                std::string_view name) const {
  return findInChain(className, name, &ClassDescription::outlets);
}

const ClassDescription::ActionMethod* ClassRegistry::findAction(std::string_view className,
                                                                std::string_view selector) const {
  return findInChain(className, selector, &ClassDescription::actions);
}

std::vector<std::string> ClassRegistry::classNames() const {
  foundation::MutexLock guard(_mutex);
  std::vector<std::string> names;
  for (const auto& [name, description] : _classes) names.push_back(name);
  return names;
}

}  // namespace appkit
