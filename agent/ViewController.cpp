#include "ViewController.h"

#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"

namespace {

const appkit::ClassRegistrar s_registrar(
    appkit::ClassBuilder<ViewController>("ViewController", "NSViewController").build());

}  // namespace

void ViewController::awakeFromNib() { appkit::ViewController::awakeFromNib(); }

void ViewController::viewDidLoad() { appkit::ViewController::viewDidLoad(); }

void ViewController::loadView() { appkit::ViewController::loadView(); }

void ViewController::setRepresentedObject(appkit::Object* representedObject) {
  appkit::ViewController::setRepresentedObject(representedObject);
}
