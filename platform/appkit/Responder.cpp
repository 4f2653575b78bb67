#include "appkit/Responder.h"

namespace appkit {

void Responder::mouseDown(const Event& event) {
  if (_nextResponder) _nextResponder->mouseDown(event);
}
void Responder::mouseUp(const Event& event) {
  if (_nextResponder) _nextResponder->mouseUp(event);
}
void Responder::mouseDragged(const Event& event) {
  if (_nextResponder) _nextResponder->mouseDragged(event);
}
void Responder::mouseMoved(const Event& event) {
  if (_nextResponder) _nextResponder->mouseMoved(event);
}
void Responder::mouseEntered(const Event& event) {
  if (_nextResponder) _nextResponder->mouseEntered(event);
}
void Responder::mouseExited(const Event& event) {
  if (_nextResponder) _nextResponder->mouseExited(event);
}

}  // namespace appkit
