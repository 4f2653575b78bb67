#include "appkit/Object.h"

#include <map>
#include <vector>

#include "appkit/Coder.h"
#include "appkit/MainThreadCheck.h"

namespace appkit {
namespace detail {

// The observers of one object. Shared with the notification in progress, so that an observer
// destroying the object does not free the table under it; tokens hold it weakly.
struct ObserverTable {
  struct Registration {
    std::uint64_t id;
    std::shared_ptr<std::function<void()>> observer;
  };

  bool contains(std::string_view key, std::uint64_t id) const {
    auto found = byKey.find(key);
    if (found == byKey.end()) return false;
    for (const auto& registration : found->second) {
      if (registration.id == id) return true;
    }
    return false;
  }

  void remove(const std::string& key, std::uint64_t id) {
    auto found = byKey.find(key);
    if (found == byKey.end()) return;
    std::erase_if(found->second, [id](const Registration& r) { return r.id == id; });
    if (found->second.empty()) byKey.erase(found);
  }

  std::map<std::string, std::vector<Registration>, std::less<>> byKey;
  std::uint64_t nextId = 0;
  bool objectAlive = true;
};

}  // namespace detail

ObservationToken::ObservationToken(ObservationToken&& other) noexcept
    : _table(std::move(other._table)), _key(std::move(other._key)), _id(other._id) {
  other._table.reset();
}

ObservationToken& ObservationToken::operator=(ObservationToken&& other) noexcept {
  if (this != &other) {
    reset();
    _table = std::move(other._table);
    _key = std::move(other._key);
    _id = other._id;
    other._table.reset();
  }
  return *this;
}

void ObservationToken::reset() {
  if (auto table = _table.lock()) table->remove(_key, _id);
  _table.reset();
}

Object::~Object() {
  if (_observers) _observers->objectAlive = false;
}

bool Object::initWithCoder(const Coder& coder) {
  (void)coder;
  return true;
}

bool Object::setAction(Object* target, const std::string& selector, Action action) {
  (void)target;
  (void)selector;
  (void)action;
  return false;
}

ObservationToken Object::addObserver(std::string key, std::function<void()> observer) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_observers) _observers = std::make_shared<detail::ObserverTable>();
  std::uint64_t id = ++_observers->nextId;
  _observers->byKey[key].push_back(
      {id, std::make_shared<std::function<void()>>(std::move(observer))});
  return ObservationToken(_observers, std::move(key), id);
}

void Object::didChangeValueForKey(std::string_view key) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_observers) return;
  std::shared_ptr<detail::ObserverTable> table = _observers;  // `this` may go during the calls
  auto found = table->byKey.find(key);
  if (found == table->byKey.end()) return;
  std::vector<detail::ObserverTable::Registration> snapshot = found->second;
  for (const auto& registration : snapshot) {
    if (!table->objectAlive) return;
    if (!table->contains(key, registration.id)) continue;  // removed by an earlier observer
    (*registration.observer)();
  }
}

}  // namespace appkit
