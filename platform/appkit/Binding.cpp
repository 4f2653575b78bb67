#include "appkit/Binding.h"

#include "foundation/Log.h"

namespace appkit {

Binding::Binding(Endpoint source, Endpoint target)
    : _source(std::move(source)), _target(std::move(target)), _alive(std::make_shared<bool>(true)) {
  copy(_target, _source);
  _sourceObservation = _source.object->addObserver(_source.key, [this] { copy(_source, _target); });
  _targetObservation = _target.object->addObserver(_target.key, [this] { copy(_target, _source); });
}

Binding::~Binding() { *_alive = false; }

void Binding::copy(const Endpoint& from, const Endpoint& to) {
  if (_copying) return;  // the announcement of a value this binding is copying
  std::optional<foundation::PlistValue> value = from.get();
  if (!value || to.get() == value) return;
  std::shared_ptr<bool> alive = _alive;
  _copying = true;
  bool stored = to.set(*value);
  if (!*alive) return;  // an observer of the change destroyed the binding
  _copying = false;
  if (!stored) {
    foundation::NSLog("appkit: binding: %s does not accept the value of %s", to.description.c_str(),
                      from.description.c_str());
  }
}

}  // namespace appkit
