#include "appkit/LayoutBuilder.h"

#include <algorithm>
#include <utility>

#include "appkit/ApplicationDelegate.h"
#include "appkit/Binding.h"
#include "appkit/ClassRegistry.h"
#include "appkit/Coder.h"
#include "appkit/Object.h"
#include "appkit/UserDefaultsController.h"

namespace appkit {
namespace {

using foundation::PlistDictionary;
using foundation::PlistValue;

// A string member of `dictionary`, or null when absent or not a string.
const std::string* stringMember(const PlistDictionary& dictionary, const std::string& key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : it->second.string();
}

// The target id that names the shared user-defaults controller.
constexpr std::string_view kSharedUserDefaultsController = "$SharedUserDefaultsController";

}  // namespace

LayoutBuilder::LayoutBuilder(const ClassRegistry& registry, std::string source)
    : _registry(registry), _source(std::move(source)), _layout(new Layout()) {}

foundation::Error LayoutBuilder::fail(const std::string& message) const {
  return foundation::Error{_source + ": " + message};
}

std::string LayoutBuilder::describe(const Entry& entry) {
  return "object '" + entry.id + "' (" + entry.className + ")";
}

LayoutBuilder::Step LayoutBuilder::checkKeys(const PlistDictionary& dictionary,
                                             const std::vector<std::string>& known,
                                             const std::string& where) {
  for (const auto& [key, value] : dictionary) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      return fail(where + ": unknown key '" + key + "'");
    }
  }
  return {};
}

LayoutResult LayoutBuilder::build(const PlistValue& root) {
  Step built = buildSteps(root);
  if (!built) {
    _entries.clear();
    _layout.reset();
    return built.error();
  }
  for (const auto& entry : _entries) entry.object->awakeFromNib();
  return std::move(_layout);
}

LayoutBuilder::Step LayoutBuilder::buildSteps(const PlistValue& root) {
  const PlistDictionary* top = root.dictionary();
  if (!top) return fail("the layout is not a dictionary");
  if (Step keys = checkKeys(*top, {"Objects", "Connections", "ApplicationDelegate"}, "layout");
      !keys) {
    return keys;
  }
  auto objects = top->find("Objects");
  if (objects == top->end()) return fail("the layout has no Objects array");
  if (Step created = createObjects(objects->second); !created) return created;
  for (const auto& entry : _entries) {
    if (Step set = setProperties(entry); !set) return set;
  }
  for (const auto& entry : _entries) {
    if (Step set = setOutlets(entry); !set) return set;
  }
  if (auto connections = top->find("Connections"); connections != top->end()) {
    if (Step connected = connect(connections->second); !connected) return connected;
  }
  if (auto delegate = top->find("ApplicationDelegate"); delegate != top->end()) {
    return designateDelegate(delegate->second);
  }
  return {};
}

LayoutBuilder::Step LayoutBuilder::createObjects(const PlistValue& objects) {
  const foundation::PlistArray* array = objects.array();
  if (!array) return fail("Objects is not an array");
  for (std::size_t index = 0; index < array->size(); ++index) {
    const std::string where = "Objects[" + std::to_string(index) + "]";
    const PlistDictionary* description = (*array)[index].dictionary();
    if (!description) return fail(where + " is not a dictionary");
    Step keys = checkKeys(*description, {"id", "class", "properties", "outlets"}, where);
    if (!keys) return keys;
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
    const PlistDictionary* properties = nullptr;
    if (auto found = description->find("properties"); found != description->end()) {
      properties = found->second.dictionary();
      if (!properties)
        return fail("object '" + *id + "' (" + *className + "): properties is not a dictionary");
    }
    std::unique_ptr<Object> object = cls->factory();
    if (!object) return fail("object '" + *id + "': class '" + *className + "' made no object");
    Object* raw = object.get();
    _layout->_objects.push_back(std::move(object));
    _layout->_byId.emplace(*id, raw);
    _entries.push_back(Entry{*id, *className, description, raw, {}});
    Coder coder(*id, *className, properties);
    if (!raw->initWithCoder(coder))
      return fail(describe(_entries.back()) + ": decoding made no object");
    _entries.back().decodedKeys = coder.decodedKeys();
  }
  return {};
}

LayoutBuilder::Step LayoutBuilder::setProperties(const Entry& entry) {
  auto it = entry.description->find("properties");
  if (it == entry.description->end()) return {};
  const PlistDictionary* properties = it->second.dictionary();  // checked when created
  for (const auto& [key, value] : *properties) {
    bool accepted;
    if (const auto* setter = _registry.findProperty(entry.className, key)) {
      accepted = (*setter)(*entry.object, value);
    } else if (const auto* attribute = _registry.findAttribute(entry.className, key)) {
      accepted = attribute->set(*entry.object, value);
    } else if (entry.decodedKeys.count(key)) {
      continue;  // read by the object's initWithCoder
    } else {
      return fail(describe(entry) + ": no property '" + key + "'");
    }
    if (!accepted) {
      return fail(describe(entry) + ": property '" + key + "' does not accept the value given");
    }
  }
  return {};
}

LayoutBuilder::Step LayoutBuilder::setOutlets(const Entry& entry) {
  auto it = entry.description->find("outlets");
  if (it == entry.description->end()) return {};
  const PlistDictionary* outlets = it->second.dictionary();
  if (!outlets) return fail(describe(entry) + ": outlets is not a dictionary");
  for (const auto& [name, value] : *outlets) {
    const auto* setter = _registry.findOutlet(entry.className, name);
    if (!setter) {
      const auto* adder = _registry.findOutletCollection(entry.className, name);
      if (!adder) return fail(describe(entry) + ": no outlet '" + name + "'");
      if (Step added = setOutletCollection(entry, name, value, *adder); !added) return added;
      continue;
    }
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
  return {};
}

LayoutBuilder::Step LayoutBuilder::setOutletCollection(const Entry& entry, const std::string& name,
                                                       const PlistValue& value,
                                                       const ClassDescription::OutletAdder& adder) {
  const foundation::PlistArray* ids = value.array();
  if (!ids) return fail(describe(entry) + ": outlet '" + name + "' is not an array of ids");
  for (const PlistValue& element : *ids) {
    const std::string* targetId = element.string();
    if (!targetId) return fail(describe(entry) + ": outlet '" + name + "' is not an array of ids");
    const Entry* target = entryWithId(*targetId);
    if (!target) {
      return fail(describe(entry) + ": outlet '" + name + "' names no object '" + *targetId + "'");
    }
    if (!adder(*entry.object, target->object)) {
      return fail(describe(entry) + ": outlet '" + name + "' cannot hold " + describe(*target));
    }
  }
  return {};
}

LayoutBuilder::Step LayoutBuilder::connect(const PlistValue& connections) {
  const foundation::PlistArray* array = connections.array();
  if (!array) return fail("Connections is not an array");
  for (std::size_t index = 0; index < array->size(); ++index) {
    const std::string where = "Connections[" + std::to_string(index) + "]";
    const PlistDictionary* connection = (*array)[index].dictionary();
    if (!connection) return fail(where + " is not a dictionary");
    const std::string* kind = stringMember(*connection, "kind");
    if (!kind) return fail(where + " has no kind string");
    if (*kind == "action") {
      Step connected = connectAction(*connection, where);
      if (!connected) return connected;
    } else if (*kind == "binding") {
      Step connected = connectBinding(*connection, where);
      if (!connected) return connected;
    } else {
      return fail(where + ": unknown connection kind '" + *kind + "'");
    }
  }
  return {};
}

LayoutBuilder::Step LayoutBuilder::connectAction(const PlistDictionary& connection,
                                                 const std::string& where) {
  Step keys = checkKeys(connection, {"kind", "source", "target", "selector"}, where);
  if (!keys) return keys;
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
  return {};
}

Binding::Endpoint LayoutBuilder::attributeEndpoint(const Entry& entry, const std::string& key,
                                                   const ClassDescription::Attribute& attribute) {
  Object* object = entry.object;
  Binding::Endpoint endpoint;
  endpoint.object = object;
  endpoint.key = key;
  endpoint.description = describe(entry) + " '" + key + "'";
  endpoint.get = [get = attribute.get, object] { return get(*object); };
  endpoint.set = [set = attribute.set, object, key](const PlistValue& value) {
    if (!set(*object, value)) return false;
    object->didChangeValueForKey(key);
    return true;
  };
  return endpoint;
}

LayoutBuilder::Step LayoutBuilder::connectBinding(const PlistDictionary& connection,
                                                  const std::string& where) {
  Step keys = checkKeys(connection, {"kind", "source", "binding", "target", "keyPath"}, where);
  if (!keys) return keys;
  const std::string* sourceId = stringMember(connection, "source");
  const std::string* binding = stringMember(connection, "binding");
  const std::string* targetId = stringMember(connection, "target");
  const std::string* keyPath = stringMember(connection, "keyPath");
  if (!sourceId || !binding || !targetId || !keyPath || binding->empty() || keyPath->empty()) {
    return fail(where + ": a binding needs source, binding, target and keyPath strings");
  }
  const Entry* source = entryWithId(*sourceId);
  if (!source) return fail(where + ": no source object '" + *sourceId + "'");
  const auto* sourceAttribute = _registry.findAttribute(source->className, *binding);
  if (!sourceAttribute) {
    return fail(where + ": binding to a missing key: " + describe(*source) + " has no attribute '" +
                *binding + "'");
  }
  Binding::Endpoint from = attributeEndpoint(*source, *binding, *sourceAttribute);

  Binding::Endpoint to;
  if (*targetId == kSharedUserDefaultsController) {
    if (!UserDefaultsController::defaultsKey(*keyPath)) {
      return fail(where + ": " + describe(*source) + " is bound to " + *targetId +
                  " with keyPath '" + *keyPath + "', which is not of the form values.<key>");
    }
    UserDefaultsController* controller = &UserDefaultsController::shared();
    to.object = controller;
    to.key = *keyPath;
    to.description = *targetId + " '" + *keyPath + "'";
    to.get = [controller, key = *keyPath] { return controller->valueForKeyPath(key); };
    // The controller announces the change itself, through the defaults' change hook.
    to.set = [controller, key = *keyPath](const PlistValue& value) {
      return controller->setValueForKeyPath(key, value);
    };
  } else {
    const Entry* target = entryWithId(*targetId);
    if (!target) {
      return fail(where + ": " + describe(*source) + " is bound to no object '" + *targetId + "'");
    }
    const auto* targetAttribute = _registry.findAttribute(target->className, *keyPath);
    if (!targetAttribute) {
      return fail(where + ": binding to a missing key: " + describe(*target) +
                  " has no attribute '" + *keyPath + "'");
    }
    to = attributeEndpoint(*target, *keyPath, *targetAttribute);
  }
  _layout->_bindings.push_back(std::make_unique<Binding>(std::move(from), std::move(to)));
  return {};
}

LayoutBuilder::Step LayoutBuilder::designateDelegate(const PlistValue& id) {
  const std::string* delegateId = id.string();
  if (!delegateId) return fail("ApplicationDelegate is not an id string");
  const Entry* entry = entryWithId(*delegateId);
  if (!entry) return fail("ApplicationDelegate names no object '" + *delegateId + "'");
  auto* delegate = dynamic_cast<ApplicationDelegate*>(entry->object);
  if (!delegate)
    return fail("ApplicationDelegate: " + describe(*entry) + " is not an application delegate");
  _layout->_applicationDelegate = delegate;
  return {};
}

const LayoutBuilder::Entry* LayoutBuilder::entryWithId(const std::string& id) const {
  for (const auto& entry : _entries) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

}  // namespace appkit
