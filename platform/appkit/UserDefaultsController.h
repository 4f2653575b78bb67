#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "appkit/Object.h"
#include "foundation/PropertyList.h"

namespace foundation {
class UserDefaults;
}

namespace appkit {

// The user defaults as key-value attributes, for bindings: the attribute "values.<key>" is the
// defaults value of <key>. A layout binds to the shared controller as the target
// "$SharedUserDefaultsController".
//
// Every change made through the UserDefaults object (setObject, the typed setters,
// removeObjectForKey, from any thread) is announced as didChangeValueForKey("values.<key>"): at
// once when made on the main thread, else as soon as the main queue runs. Changes that another
// process makes to the file are not announced.
//
// Main thread, but for the announcements' hook, which the defaults call on any thread.
class UserDefaultsController : public Object {
 public:
  // The controller of UserDefaults::standard() as it is at the call (one per defaults file; never
  // destroyed).
  static UserDefaultsController& shared();

  // A controller of `defaults`, which must outlive it.
  explicit UserDefaultsController(foundation::UserDefaults& defaults);
  ~UserDefaultsController() override;

  foundation::UserDefaults& defaults() const { return _defaults; }

  // The defaults key named by `keyPath` "values.<key>", or nullopt when it is not of that form.
  static std::optional<std::string> defaultsKey(std::string_view keyPath);

  // The value of "values.<key>"; nullopt when the defaults hold none or the path is not of that
  // form.
  std::optional<foundation::PlistValue> valueForKeyPath(std::string_view keyPath) const;
  // Stores `value` under <key> and synchronizes; the change is announced like any other. False
  // when the path is not of the form "values.<key>" or the value can't be stored. A synchronize
  // that fails is logged; the value then stays pending in the defaults for their next synchronize.
  bool setValueForKeyPath(std::string_view keyPath, const foundation::PlistValue& value);

 private:
  struct Liveness;

  foundation::UserDefaults& _defaults;
  std::shared_ptr<Liveness> _liveness;
  std::uint64_t _observerId = 0;
};

}  // namespace appkit
