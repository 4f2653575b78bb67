#pragma once

#include <string>
#include <thread>
#include <vector>

#include "appkit/ApplicationDelegate.h"
#include "appkit/Object.h"

namespace appkit_tests {

// Layout classes for the tests, registered as TestView, TestButton (a TestView that sends
// actions), TestCell (a TestView that decodes its state itself), TestDelegate and AbstractThing.
//
// TestView: attribute "title" (a string), property "tag", outlet "next", outlet collection
// "subviews" (of TestViews). awakeFromNib records "<title>/<number of subviews>".
class TestView : public appkit::Object {
 public:
  TestView() { ++live; }
  ~TestView() override { --live; }
  void awakeFromNib() override {
    awakeOrder.push_back(title + "/" + std::to_string(subviews.size()));
  }
  void addSubview(TestView* view) { subviews.push_back(view); }

  std::string title;
  long long tag = 0;
  TestView* next = nullptr;
  std::vector<TestView*> subviews;

  static int live;
  static std::vector<std::string> awakeOrder;
};

class TestButton : public TestView {
 public:
  bool setAction(appkit::Object* target, const std::string& selector, Action action) override {
    this->target = target;
    this->selector = selector;
    this->action = std::move(action);
    return true;
  }
  void click() {
    if (action) action(this);
  }
  // What a control does when the user changes its title.
  void userSetsTitle(std::string newTitle) {
    title = std::move(newTitle);
    didChangeValueForKey("title");
  }

  appkit::Object* target = nullptr;
  std::string selector;
  Action action;
};

// Decodes "state" (an integer) in initWithCoder and refuses an entry whose state is not one; has
// no property table entry for it.
class TestCell : public TestView {
 public:
  bool initWithCoder(const appkit::Coder& coder) override;

  long long state = 0;
  std::string decodedId;
};

// Attribute "caption" (a string).
class TestDelegate : public appkit::Object, public appkit::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override {
    calls.push_back("shouldTerminate");
    return answerTerminate;
  }
  void onOk(appkit::Object* sender) {
    calls.push_back("onOk");
    lastSender = sender;
  }
  void setCaption(std::string newCaption) {
    caption = std::move(newCaption);
    didChangeValueForKey("caption");
  }

  TestView* window = nullptr;
  TestButton* okButton = nullptr;
  appkit::Object* lastSender = nullptr;
  bool answerTerminate = true;
  bool launchedOnMainThread = false;
  bool terminatedOnMainThread = false;
  std::vector<std::string> calls;
  std::string caption;
};

class AbstractThing : public appkit::Object {
 public:
  virtual void mustOverride() = 0;
};

}  // namespace appkit_tests
