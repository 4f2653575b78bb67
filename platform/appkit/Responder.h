#pragma once

#include "appkit/Event.h"
#include "appkit/Object.h"

namespace appkit {

// What receives the entered and exited events of a tracking area: a responder, or a cell that
// its control registers as the owner of an area.
class TrackingAreaOwner {
 public:
  virtual ~TrackingAreaOwner() = default;
  virtual void mouseEntered(const Event& event) = 0;
  virtual void mouseExited(const Event& event) = 0;
};

// Something that handles mouse events. Each handler's default passes the event on to the next
// responder (for a view, its superview); with none, the event is dropped. Main thread only.
class Responder : public Object, public TrackingAreaOwner {
 public:
  virtual void mouseDown(const Event& event);
  virtual void mouseUp(const Event& event);
  virtual void mouseDragged(const Event& event);
  virtual void mouseMoved(const Event& event);
  void mouseEntered(const Event& event) override;
  void mouseExited(const Event& event) override;

  // Not owned; null ends the chain.
  Responder* nextResponder() const { return _nextResponder; }
  void setNextResponder(Responder* responder) { _nextResponder = responder; }

 private:
  Responder* _nextResponder = nullptr;
};

}  // namespace appkit
