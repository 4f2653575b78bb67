#include "AppDelegate.h"

#include <cstdio>
#include <string>

#include "SHAex.h"
#include "ServiceConfig.h"
#include "appkit/Application.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "foundation/Calendar.h"
#include "foundation/ProcessInfo.h"
#include "foundation/UserDefaults.h"

namespace {

const appkit::ClassRegistrar s_registrar(appkit::ClassBuilder<AppDelegate>("AppDelegate").build());

std::string describe(std::optional<foundation::Date> date) {
  if (!date) return "(none)";
  auto parts = foundation::Calendar::currentCalendar().components(*date);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month,
                parts.day, parts.hour, parts.minute, parts.second);
  return text;
}

void runSettingsDemo() {
  ServiceConfig::setNeverPopDialog(false);
  ServiceConfig::setPopDialogTime(foundation::Date::now());
  ServiceConfig::setSiteID(42);

  std::printf("NeverPopDialog: %s\n", ServiceConfig::isNeverPopDialog() ? "YES" : "NO");
  std::printf("PopDialogDate:  %s (local time)\n", describe(ServiceConfig::getPopDialogTime()).c_str());
  std::printf("ServiceSiteID:  %lld\n", static_cast<long long>(ServiceConfig::siteID()));
  std::printf("same day as now: %s\n",
              ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), foundation::Date::now())
                  ? "YES"
                  : "NO");

  const std::string& path = foundation::UserDefaults::standard().path();
  CSHA1 digest;
  bool read = digest.HashFile(path.c_str());
  digest.Final();
  std::string hex;
  digest.ReportHashStl(hex, CSHA1::REPORT_HEX_PLAIN);
  std::printf("\n%s (SHA-1 %s):\n", path.c_str(), read ? hex.c_str() : "unreadable");
  std::fflush(stdout);
  if (std::FILE* file = std::fopen(path.c_str(), "r")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, got, stdout);
    std::fclose(file);
  }
  std::fflush(stdout);
}

}  // namespace

void AppDelegate::applicationDidFinishLaunching() {
  for (const std::string& argument : foundation::ProcessInfo::arguments()) {
    if (argument == "-demo") {
      runSettingsDemo();
      break;
    }
  }
  appkit::Application::shared().terminate();
}
