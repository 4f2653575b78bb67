#pragma once

#include <string>
#include <thread>
#include <vector>

#include "appkit/ApplicationDelegate.h"
#include "appkit/Object.h"

namespace appkit_tests {

// Layout classes for the tests, registered as TestView, TestButton (a TestView that sends
// actions), TestDelegate and AbstractThing.
class TestView : public appkit::Object {
 public:
  TestView() { ++live; }
  ~TestView() override { --live; }
  void awakeFromLayout() override { awakeOrder.push_back(title); }

  std::string title;
  long long tag = 0;
  TestView* next = nullptr;

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

  appkit::Object* target = nullptr;
  std::string selector;
  Action action;
};

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

  TestView* window = nullptr;
  TestButton* okButton = nullptr;
  appkit::Object* lastSender = nullptr;
  bool answerTerminate = true;
  bool launchedOnMainThread = false;
  bool terminatedOnMainThread = false;
  std::vector<std::string> calls;
};

class AbstractThing : public appkit::Object {
 public:
  virtual void mustOverride() = 0;
};

}  // namespace appkit_tests
