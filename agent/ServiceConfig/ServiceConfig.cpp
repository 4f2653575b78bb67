#include "ServiceConfig.h"

#include "foundation/Calendar.h"
#include "foundation/UserDefaults.h"

using foundation::Date;
using foundation::UserDefaults;

namespace {

constexpr const char* kPopDialogDate = "PopDialogDate";
constexpr const char* kNeverPopDialog = "NeverPopDialog";
constexpr const char* kServiceSiteID = "ServiceSiteID";

}  // namespace

void ServiceConfig::setPopDialogTime(std::optional<Date> date) {
  UserDefaults& defaults = UserDefaults::standard();
  if (date) {
    defaults.setObject(kPopDialogDate, *date);
  } else {
    defaults.removeObjectForKey(kPopDialogDate);
  }
  defaults.synchronize();
}

std::optional<Date> ServiceConfig::getPopDialogTime() {
  auto value = UserDefaults::standard().objectForKey(kPopDialogDate);
  if (!value || !value->date()) return std::nullopt;
  return *value->date();
}

bool ServiceConfig::isSameDate(std::optional<Date> date, std::optional<Date> andDate) {
  if (!date || !andDate) return false;
  auto calendar = foundation::Calendar::currentCalendar();
  auto first = calendar.components(*date);
  auto second = calendar.components(*andDate);
  return first.year == second.year && first.month == second.month && first.day == second.day;
}

void ServiceConfig::setNeverPopDialog(bool never) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(kNeverPopDialog, never);
  defaults.synchronize();
}

bool ServiceConfig::isNeverPopDialog() {
  auto value = UserDefaults::standard().objectForKey(kNeverPopDialog);
  return value && value->boolValue().value_or(false);
}

void ServiceConfig::setSiteID(std::int64_t siteID) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(kServiceSiteID, siteID);
  defaults.synchronize();
}

std::int64_t ServiceConfig::siteID() {
  auto value = UserDefaults::standard().objectForKey(kServiceSiteID);
  return value ? value->integerValue().value_or(0) : 0;
}
