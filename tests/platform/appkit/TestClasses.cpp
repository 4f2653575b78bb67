#include "TestClasses.h"

#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "appkit/Coder.h"
#include "dispatch/MainThread.h"
#include "foundation/PropertyList.h"

namespace appkit_tests {

int TestView::live = 0;
std::vector<std::string> TestView::awakeOrder;

void TestDelegate::applicationDidFinishLaunching() {
  calls.push_back("didFinishLaunching");
  launchedOnMainThread = dispatch::isMainThread();
}

void TestDelegate::applicationWillTerminate() {
  calls.push_back("willTerminate");
  terminatedOnMainThread = dispatch::isMainThread();
}

bool TestCell::initWithCoder(const appkit::Coder& coder) {
  decodedId = coder.objectId() + " " + coder.className();
  const foundation::PlistValue* value = coder.decodeObjectForKey("state");
  if (!value) return true;
  auto number = value->integerValue();
  if (!number || value->isBoolean()) return false;
  state = *number;
  return true;
}

namespace {

std::optional<foundation::PlistValue> stringValue(const std::string& text) {
  return foundation::PlistValue(text);
}

bool setString(std::string& field, const foundation::PlistValue& value) {
  if (!value.string()) return false;
  field = *value.string();
  return true;
}

const appkit::ClassRegistrar s_view(
    appkit::ClassBuilder<TestView>("TestView")
        .attribute(
            "title", [](const TestView& view) { return stringValue(view.title); },
            [](TestView& view, const foundation::PlistValue& value) {
              return setString(view.title, value);
            })
        .property("tag",
                  [](TestView& view, const foundation::PlistValue& value) {
                    auto number = value.integerValue();
                    if (!number || value.isBoolean()) return false;
                    view.tag = *number;
                    return true;
                  })
        .outlet("next", &TestView::next)
        .outletCollection("subviews", &TestView::addSubview)
        .build());

const appkit::ClassRegistrar s_cell(appkit::ClassBuilder<TestCell>("TestCell", "TestView").build());

const appkit::ClassRegistrar s_button(
    appkit::ClassBuilder<TestButton>("TestButton", "TestView").build());

const appkit::ClassRegistrar s_delegate(
    appkit::ClassBuilder<TestDelegate>("TestDelegate")
        .outlet("window", &TestDelegate::window)
        .outlet("okButton", &TestDelegate::okButton)
        .action("onOk:", &TestDelegate::onOk)
        .attribute(
            "caption", [](const TestDelegate& delegate) { return stringValue(delegate.caption); },
            [](TestDelegate& delegate, const foundation::PlistValue& value) {
              return setString(delegate.caption, value);
            })
        .build());

const appkit::ClassRegistrar s_abstract(
    appkit::ClassBuilder<AbstractThing>("AbstractThing").build());

}  // namespace
}  // namespace appkit_tests
