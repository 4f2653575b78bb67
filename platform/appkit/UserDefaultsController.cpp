#include "appkit/UserDefaultsController.h"

#include <map>

#include "appkit/MainThreadCheck.h"
#include "dispatch/MainQueue.h"
#include "dispatch/MainThread.h"
#include "foundation/Log.h"
#include "foundation/Mutex.h"
#include "foundation/UserDefaults.h"

namespace appkit {
namespace {

constexpr std::string_view kValuesPrefix = "values.";

}  // namespace

// Lets an announcement queued from another thread find out on the main thread whether the
// controller still exists. Touched on the main thread only.
struct UserDefaultsController::Liveness {
  UserDefaultsController* controller;
};

UserDefaultsController& UserDefaultsController::shared() {
  // Never destroyed, like the defaults they observe.
  static foundation::Mutex& s_mutex = *new foundation::Mutex;
  static auto& s_controllers GUARDED_BY(s_mutex) =
      *new std::map<foundation::UserDefaults*, std::unique_ptr<UserDefaultsController>>;
  foundation::UserDefaults& defaults = foundation::UserDefaults::standard();
  foundation::MutexLock guard(s_mutex);
  std::unique_ptr<UserDefaultsController>& slot = s_controllers[&defaults];
  if (!slot) slot = std::make_unique<UserDefaultsController>(defaults);
  return *slot;
}

UserDefaultsController::UserDefaultsController(foundation::UserDefaults& defaults)
    : _defaults(defaults), _liveness(std::make_shared<Liveness>(Liveness{this})) {
  std::weak_ptr<Liveness> weak = _liveness;
  _observerId = _defaults.addChangeObserver([weak](std::string_view key) {
    std::string keyPath = std::string(kValuesPrefix) + std::string(key);
    if (dispatch::isMainThread()) {
      // The controller's destructor removes this observer on the main thread, so while it runs
      // here the controller exists.
      if (auto liveness = weak.lock()) liveness->controller->didChangeValueForKey(keyPath);
      return;
    }
    dispatch::mainQueue().async([weak, keyPath = std::move(keyPath)] {
      if (auto liveness = weak.lock()) liveness->controller->didChangeValueForKey(keyPath);
    });
  });
}

UserDefaultsController::~UserDefaultsController() {
  // Waits for calls of the observer in progress on other threads; they only read `weak`.
  _defaults.removeChangeObserver(_observerId);
  _liveness.reset();
}

std::optional<std::string> UserDefaultsController::defaultsKey(std::string_view keyPath) {
  if (!keyPath.starts_with(kValuesPrefix) || keyPath.size() == kValuesPrefix.size()) {
    return std::nullopt;
  }
  return std::string(keyPath.substr(kValuesPrefix.size()));
}

std::optional<foundation::PlistValue> UserDefaultsController::valueForKeyPath(
    std::string_view keyPath) const {
  std::optional<std::string> key = defaultsKey(keyPath);
  if (!key) return std::nullopt;
  return _defaults.objectForKey(*key);
}

bool UserDefaultsController::setValueForKeyPath(std::string_view keyPath,
                                                const foundation::PlistValue& value) {
  APPKIT_ASSERT_MAIN_THREAD();
  std::optional<std::string> key = defaultsKey(keyPath);
  if (!key || !_defaults.setObject(*key, value)) return false;
  if (!_defaults.synchronize()) {
    foundation::NSLog("appkit: could not save the default \"%s\" to %s; it stays pending",
                      key->c_str(), _defaults.path().c_str());
  }
  return true;
}

}  // namespace appkit
