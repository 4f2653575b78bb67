#pragma once

#include "appkit/Responder.h"

namespace appkit {

class ClassRegistry;
class View;

// Manages one view of a window layout. loadView() takes the view the layout connected (outlet
// "view"); viewDidLoad() follows the first time the view is asked for. The represented object is
// any object of the layout, not owned. Main thread only.
class ViewController : public Responder {
 public:
  // The view, loaded on first use (loadView, then viewDidLoad); null when none was connected.
  View* view();
  void setView(View* view) { _view = view; }
  bool isViewLoaded() const { return _viewLoaded; }

  virtual void loadView();
  virtual void viewDidLoad() {}

  Object* representedObject() const { return _representedObject; }
  virtual void setRepresentedObject(Object* representedObject);

  // Registers NSViewController (outlet "view") with `registry`.
  static void registerLayoutClasses(ClassRegistry& registry);

 private:
  View* _view = nullptr;
  bool _viewLoaded = false;
  Object* _representedObject = nullptr;
};

}  // namespace appkit
