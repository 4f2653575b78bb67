#include "AppDelegate.h"

#include <limits>
#include <utility>
#include <vector>

#include "Mendkit/MKDeviceManager.h"
#include "MendkitAgentManager.h"
#include "ProductLogManager.h"
#include "ServiceConfig.h"
#include "appkit/Application.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "appkit/TextField.h"
#include "appkit/Window.h"
#include "appkit/WindowBackend.h"
#include "dispatch/GlobalQueue.h"
#include "dispatch/TimerSource.h"
#include "foundation/Bundle.h"
#include "foundation/Date.h"
#include "foundation/ProcessInfo.h"

namespace {

const appkit::ClassRegistrar s_registrar(AppDelegate::layoutDescription());

constexpr std::int64_t kDefaultSiteID = 101;

enum class Mode { Install, Run, Remove, DebugDeviceError, DebugRestoreFailure };

std::optional<Mode> modeOfArgument(const std::string& argument) {
  if (argument == "-i") return Mode::Install;
  if (argument == "-r") return Mode::Run;
  if (argument == "-k") return Mode::Remove;
  if (argument == "-debug0") return Mode::DebugDeviceError;
  if (argument == "-debug1") return Mode::DebugRestoreFailure;
  return std::nullopt;
}

// A string's integer value: leading white space, an optional sign, then decimal digits up to the
// first other character; 0 without digits; saturated at the 64-bit range.
std::int64_t integerValue(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' ||
                              text[at] == '\r' || text[at] == '\v' || text[at] == '\f')) {
    ++at;
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  bool saturated = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    int digit = text[at] - '0';
    if (value > (kMax - digit) / 10) {
      saturated = true;
    } else if (!saturated) {
      value = value * 10 + digit;
    }
  }
  if (saturated) return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
  return negative ? -value : value;
}

}  // namespace

appkit::ClassDescription AppDelegate::layoutDescription() {
  return appkit::ClassBuilder<AppDelegate>("AppDelegate")
      .outlet("window", &AppDelegate::window)
      .outlet("_textFieldContent", &AppDelegate::_textFieldContent)
      .action("onOkBtn:", &AppDelegate::onOkBtn)
      .action("onCancelBtn:", &AppDelegate::onCancelBtn)
      .action("onClickNeverPopCheckBox:", &AppDelegate::onClickNeverPopCheckBox)
      .attribute(
          "neverPopFlag",
          [](const AppDelegate& self) -> std::optional<foundation::PlistValue> {
            return foundation::PlistValue(self.neverPopFlag());
          },
          [](AppDelegate& self, const foundation::PlistValue& value) {
            std::optional<bool> flag = value.boolValue();
            if (!flag) return false;
            self.setNeverPopFlag(*flag);
            return true;
          })
      .build();
}

AppDelegate::AppDelegate() : _application(&appkit::Application::shared()) {}

void AppDelegate::setNeverPopFlag(bool flag) {
  if (flag == _neverPopFlag) return;
  _neverPopFlag = flag;
  didChangeValueForKey("neverPopFlag");
}

AppDelegate::~AppDelegate() { releaseTimerAndDeviceType(); }

std::optional<std::int64_t> AppDelegate::siteNumberOfArgument(std::string_view element) {
  static constexpr std::string_view kSite = "SITE:";
  if (element.find(kSite) == std::string_view::npos) return std::nullopt;
  std::string rest;
  size_t from = 0;
  for (size_t at; (at = element.find(kSite, from)) != std::string_view::npos;
       from = at + kSite.size()) {
    rest.append(element.substr(from, at - from));
  }
  rest.append(element.substr(from));
  std::int64_t number = integerValue(rest);
  return number != 0 ? number : kDefaultSiteID;
}

void AppDelegate::applicationDidFinishLaunching() {
  const foundation::Bundle* bundle = foundation::Bundle::main();
  KVLogManager->setProductID(8);
  const foundation::PlistValue* version =
      bundle ? bundle->objectForInfoDictionaryKey("CFBundleVersion") : nullptr;
  KVLogManager->setProductVersion(
      version && version->string() ? std::optional<std::string>(*version->string()) : std::nullopt);
  KVLogManager->setLanguageID(1033);

  setNeverPopFlag(ServiceConfig::isNeverPopDialog());

  const std::vector<std::string> arguments = foundation::ProcessInfo::arguments();
  for (const std::string& argument : arguments) {
    std::optional<Mode> mode = modeOfArgument(argument);
    if (!mode) continue;
    switch (*mode) {
      case Mode::Install:
        ServiceConfig::setNeverPopDialog(false);
        ServiceConfig::setPopDialogTime(foundation::Date::now());
        for (const std::string& element : arguments) {
          if (auto site = siteNumberOfArgument(element)) ServiceConfig::setSiteID(*site);
        }
        installService();
        return;
      case Mode::Run: {
        MKDeviceManager::shared()->startIOSConnectListener();
        windowShow.store(false);
        std::int64_t site = ServiceConfig::siteID();
        KVLogManager->setSiteID(static_cast<std::int32_t>(site != 0 ? site : kDefaultSiteID));
        // The display is opened before the first tick, which may want it; its loss (the session
        // ending) ends the agent. The other modes open it only to show a pop-up.
        appkit::WindowBackend::shared();
        startTaskRunloop();
        return;
      }
      case Mode::Remove:
        MendkitAgentManager::removeAndUnloadLaunchAgent(kAgentLabel);
        _application->terminate();
        return;
      case Mode::DebugDeviceError:
        _application->performOnMainThread([this] { needPopDialog(1); });
        return;
      case Mode::DebugRestoreFailure:
        _application->performOnMainThread([this] { needPopDialog(0); });
        return;
    }
  }
  _application->terminate();
}

void AppDelegate::installService() {
  appkit::Application* application = _application;
  dispatch::async(dispatch::globalQueue(), [application] {
    const foundation::Bundle* bundle = foundation::Bundle::main();
    std::optional<std::string> templatePath =
        bundle ? bundle->pathForResource(kAgentLabel, "plist") : std::nullopt;
    std::optional<std::string> identifier;
    if (bundle) identifier = bundle->bundleIdentifier();
    MendkitAgentManager::removeAndUnloadLaunchAgent(identifier);
    MendkitAgentManager::installLaunchAgent(templatePath);
    application->performOnMainThread([application] { application->terminate(); });
  });
}

std::optional<std::string> AppDelegate::deviceType() const {
  foundation::MutexLock guard(_deviceTypeMutex);
  return _deviceType;
}

void AppDelegate::setDeviceType(std::optional<std::string> deviceType) {
  foundation::MutexLock guard(_deviceTypeMutex);
  _deviceType = std::move(deviceType);
}

void AppDelegate::releaseTimerAndDeviceType() {
  if (_timer) {
    _timer->cancel();
    _timer.reset();
  }
  setDeviceType(std::nullopt);
}

void AppDelegate::applicationWillTerminate() {
  // The user's answer outlives an ending in the middle of its slide-out.
  if (std::exchange(_hideRunning, false)) ServiceConfig::setPopDialogTime(foundation::Date::now());
  releaseTimerAndDeviceType();
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  releaseTimerAndDeviceType();
  return true;
}
