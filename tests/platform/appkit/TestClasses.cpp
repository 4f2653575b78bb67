#include "TestClasses.h"

#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
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

namespace {

const appkit::ClassRegistrar s_view(
    appkit::ClassBuilder<TestView>("TestView")
        .property("title",
                  [](TestView& view, const foundation::PlistValue& value) {
                    if (!value.string()) return false;
                    view.title = *value.string();
                    return true;
                  })
        .property("tag",
                  [](TestView& view, const foundation::PlistValue& value) {
                    auto number = value.integerValue();
                    if (!number || value.isBoolean()) return false;
                    view.tag = *number;
                    return true;
                  })
        .outlet("next", &TestView::next)
        .build());

const appkit::ClassRegistrar s_button(
    appkit::ClassBuilder<TestButton>("TestButton", "TestView").build());

const appkit::ClassRegistrar s_delegate(appkit::ClassBuilder<TestDelegate>("TestDelegate")
                                            .outlet("window", &TestDelegate::window)
                                            .outlet("okButton", &TestDelegate::okButton)
                                            .action("onOk:", &TestDelegate::onOk)
                                            .build());

const appkit::ClassRegistrar s_abstract(
    appkit::ClassBuilder<AbstractThing>("AbstractThing").build());

}  // namespace
}  // namespace appkit_tests
