#include "appkit/ViewController.h"

#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistry.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/View.h"

namespace appkit {

View* ViewController::view() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_viewLoaded) {
    _viewLoaded = true;
    loadView();
    viewDidLoad();
  }
  return _view;
}

void ViewController::loadView() {
  // The layout has already connected the view; nothing is made here.
}

void ViewController::setRepresentedObject(Object* representedObject) {
  APPKIT_ASSERT_MAIN_THREAD();
  _representedObject = representedObject;
}

void ViewController::registerLayoutClasses(ClassRegistry& registry) {
  registry.registerClass(ClassBuilder<ViewController>("NSViewController")
                             .outlet("view", &ViewController::_view)
                             .build());
}

}  // namespace appkit
