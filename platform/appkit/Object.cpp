#include "appkit/Object.h"

namespace appkit {

bool Object::setAction(Object* target, const std::string& selector, Action action) {
  (void)target;
  (void)selector;
  (void)action;
  return false;
}

}  // namespace appkit
