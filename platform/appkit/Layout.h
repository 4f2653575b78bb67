#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

namespace foundation {
class PlistValue;
}

namespace appkit {

class ApplicationDelegate;
class Binding;
class ClassRegistry;
class Layout;
class Object;

// The outcome of loading a layout: the layout (never null), or an error whose message names the
// source and what is wrong with it.
using LayoutResult = foundation::Result<std::unique_ptr<Layout>>;

// A loaded window layout: the objects it created, which it owns, and their connections. The
// format, an XML (or binary) property list, is described in platform/appkit/LAYOUT.md:
//
//   { Objects = ( { id = "delegate"; class = "AppDelegate";
//                   properties = { ... }; outlets = { window = "popup"; }; }, ... );
//     Connections = ( { kind = "action"; source = "ok"; target = "delegate";
//                       selector = "onOkBtn:"; },
//                     { kind = "binding"; source = "caption"; binding = "value";
//                       target = "$SharedUserDefaultsController"; keyPath = "values.Caption"; },
//                     ... );
//     ApplicationDelegate = "delegate"; }
//
// Loading creates every object through the class registry in array order and calls its
// initWithCoder(), then sets properties, then outlets, then makes the connections, then calls
// awakeFromNib() on each object in order. Any error stops the load: the objects made so far are
// destroyed and nothing is awoken. Malformed input of any kind is reported, never trusted.
//
// Not thread-safe: a layout belongs to the main thread. Destroying it first undoes its bindings
// (no observer of it is left on any object, such as the shared user-defaults controller), then
// destroys the objects in reverse order of creation; their destructors must not use the other
// objects of the layout.
class Layout {
 public:
  // Reads and loads the layout file at `path`, with the shared class registry.
  static LayoutResult load(const std::string& path);
  // Loads an already parsed layout; `source` names it in error messages.
  static LayoutResult loadFromValue(const foundation::PlistValue& root, const std::string& source,
                                    const ClassRegistry& registry);

  ~Layout();
  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;

  // The object with layout id `id`, or null.
  Object* objectWithId(std::string_view id) const;
  // The object named by ApplicationDelegate, or null when the layout names none.
  ApplicationDelegate* applicationDelegate() const { return _applicationDelegate; }
  // Every object in layout order.
  const std::vector<std::unique_ptr<Object>>& objects() const { return _objects; }

 private:
  Layout() = default;
  friend class LayoutBuilder;

  std::vector<std::unique_ptr<Object>> _objects;
  std::vector<std::unique_ptr<Binding>> _bindings;
  std::map<std::string, Object*, std::less<>> _byId;
  ApplicationDelegate* _applicationDelegate = nullptr;
};

}  // namespace appkit
