#include "appkit/LayoutBuilder.h"

#include <algorithm>

#include "appkit/ApplicationDelegate.h"
#include "appkit/ClassRegistry.h"
#include "appkit/Object.h"

namespace appkit {
namespace {

using foundation::PlistDictionary;
using foundation::PlistValue;

// A string member of `dictionary`, or null when absent or not a string.
const std::string* stringMember(const PlistDictionary& dictionary, const std::string& key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : it->second.string();
}

}  // namespace

LayoutBuilder::LayoutBuilder(const ClassRegistry& registry, std::string source)
    : _registry(registry), _source(std::move(source)), _layout(new Layout()) {}

bool LayoutBuilder::fail(const std::string& message) {
  if (_error.empty()) _error = _source + ": " + message;
  return false;
}

std::string LayoutBuilder::describe(const Entry& entry) {
  return "object '" + entry.id + "' (" + entry.className + ")";
}

bool LayoutBuilder::checkKeys(const PlistDictionary& dictionary,
                              const std::vector<std::string>& known, const std::string& where) {
  for (const auto& [key, value] : dictionary) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      return fail(where + ": unknown key '" + key + "'");
    }
  }
  return true;
}

LayoutResult LayoutBuilder::build(const PlistValue& root) {
  LayoutResult result;
  const PlistDictionary* top = root.dictionary();
  bool ok = false;
  if (!top) {
    fail("the layout is not a dictionary");
  } else if (checkKeys(*top, {"Objects", "Connections", "ApplicationDelegate"}, "layout")) {
    auto objects = top->find("Objects");
    if (objects == top->end()) {
      fail("the layout has no Objects array");
    } else {
      auto connections = top->find("Connections");
      auto delegate = top->find("ApplicationDelegate");
      ok = createObjects(objects->second) &&
           std::all_of(_entries.begin(), _entries.end(),
                       [&](const Entry& entry) { return setProperties(entry); }) &&
           std::all_of(_entries.begin(), _entries.end(),
                       [&](const Entry& entry) { return setOutlets(entry); }) &&
           (connections == top->end() || connect(connections->second)) &&
           (delegate == top->end() || designateDelegate(delegate->second));
    }
  }
  if (!ok) {
    result.error = _error;
    _entries.clear();
    _layout.reset();
    return result;
  }
  for (const auto& entry : _entries) entry.object->awakeFromLayout();
  result.layout = std::move(_layout);
  return result;
}

bool LayoutBuilder::createObjects(const PlistValue& objects) {
  const foundation::PlistArray* array = objects.array();
  if (!array) return fail("Objects is not an array");
  for (std::size_t index = 0; index < array->size(); ++index) {
    const std::string where = "Objects[" + std::to_string(index) + "]";
    const PlistDictionary* description = (*array)[index].dictionary();
    if (!description) return fail(where + " is not a dictionary");
    if (!checkKeys(*description, {"id", "class", "properties", "outlets"}, where)) return false;
    const std::string* id = stringMember(*description, "id");
    if (!id || id->empty()) return fail(where + " has no id string");
    if (id->front() == '$') return fail(where + ": ids beginning with '$' are reserved");
    if (entryWithId(*id)) return fail(where + ": the id '" + *id + "' is used twice");
    const std::string* className = stringMember(*description, "class");
    if (!className || className->empty()) {
      return fail("object '" + *id + "' has no class string");
    }
    const ClassDescription* cls = _registry.find(*className);
    if (!cls) return fail("object '" + *id + "': unknown class '" + *className + "'");
    if (!cls->factory) {
      return fail("object '" + *id + "': class '" + *className + "' cannot be instantiated");
    }
    std::unique_ptr<Object> object = cls->factory();
    if (!object) return fail("object '" + *id + "': class '" + *className + "' made no object");
    Object* raw = object.get();
    _layout->_objects.push_back(std::move(object));
    _layout->_byId.emplace(*id, raw);
    _entries.push_back(Entry{*id, *className, description, raw});
  }
  return true;
}

bool LayoutBuilder::setProperties(const Entry& entry) {
  auto it = entry.description->find("properties");
  if (it == entry.description->end()) return true;
  const PlistDictionary* properties = it->second.dictionary();
  if (!properties) return fail(describe(entry) + ": properties is not a dictionary");
  for (const auto& [key, value] : *properties) {
    const auto* setter = _registry.findProperty(entry.className, key);
    if (!setter) return fail(describe(entry) + ": no property '" + key + "'");
    if (!(*setter)(*entry.object, value)) {
      return fail(describe(entry) + ": property '" + key + "' does not accept the value given");
    }
  }
  return true;
}

bool LayoutBuilder::setOutlets(const Entry& entry) {
  auto it = entry.description->find("outlets");
  if (it == entry.description->end()) return true;
  const PlistDictionary* outlets = it->second.dictionary();
  if (!outlets) return fail(describe(entry) + ": outlets is not a dictionary");
  for (const auto& [name, value] : *outlets) {
    const auto* setter = _registry.findOutlet(entry.className, name);
    if (!setter) return fail(describe(entry) + ": no outlet '" + name + "'");
    const std::string* targetId = value.string();
    if (!targetId) return fail(describe(entry) + ": outlet '" + name + "' is not an id string");
    const Entry* target = entryWithId(*targetId);
    if (!target) {
      return fail(describe(entry) + ": outlet '" + name + "' names no object '" + *targetId + "'");
    }
    if (!(*setter)(*entry.object, target->object)) {
      return fail(describe(entry) + ": outlet '" + name + "' cannot hold " + describe(*target));
    }
  }
  return true;
}

bool LayoutBuilder::connect(const PlistValue& connections) {
  const foundation::PlistArray* array = connections.array();
  if (!array) return fail("Connections is not an array");
  for (std::size_t index = 0; index < array->size(); ++index) {
    const std::string where = "Connections[" + std::to_string(index) + "]";
    const PlistDictionary* connection = (*array)[index].dictionary();
    if (!connection) return fail(where + " is not a dictionary");
    const std::string* kind = stringMember(*connection, "kind");
    if (!kind) return fail(where + " has no kind string");
    if (*kind == "action") {
      if (!connectAction(*connection, where)) return false;
    } else {
      return fail(where + ": unknown connection kind '" + *kind + "'");
    }
  }
  return true;
}

bool LayoutBuilder::connectAction(const PlistDictionary& connection, const std::string& where) {
  if (!checkKeys(connection, {"kind", "source", "target", "selector"}, where)) return false;
  const std::string* sourceId = stringMember(connection, "source");
  const std::string* targetId = stringMember(connection, "target");
  const std::string* selector = stringMember(connection, "selector");
  if (!sourceId || !targetId || !selector || selector->empty()) {
    return fail(where + ": an action needs source, target and selector strings");
  }
  const Entry* source = entryWithId(*sourceId);
  if (!source) return fail(where + ": no source object '" + *sourceId + "'");
  const Entry* target = entryWithId(*targetId);
  if (!target) return fail(where + ": no target object '" + *targetId + "'");
  const auto* method = _registry.findAction(target->className, *selector);
  if (!method) {
    return fail(where + ": " + describe(*target) + " has no action '" + *selector + "'");
  }
  Object* targetObject = target->object;
  Object::Action action = [method = *method, targetObject](Object* sender) {
    method(*targetObject, sender);
  };
  if (!source->object->setAction(targetObject, *selector, std::move(action))) {
    return fail(where + ": " + describe(*source) + " sends no actions");
  }
  return true;
}

bool LayoutBuilder::designateDelegate(const PlistValue& id) {
  const std::string* delegateId = id.string();
  if (!delegateId) return fail("ApplicationDelegate is not an id string");
  const Entry* entry = entryWithId(*delegateId);
  if (!entry) return fail("ApplicationDelegate names no object '" + *delegateId + "'");
  auto* delegate = dynamic_cast<ApplicationDelegate*>(entry->object);
  if (!delegate)
    return fail("ApplicationDelegate: " + describe(*entry) + " is not an application delegate");
  _layout->_applicationDelegate = delegate;
  return true;
}

const LayoutBuilder::Entry* LayoutBuilder::entryWithId(const std::string& id) const {
  for (const auto& entry : _entries) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

}  // namespace appkit
