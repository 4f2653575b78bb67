#pragma once

#include <cstdint>
#include <optional>

#include "foundation/Date.h"

// The agent's persisted settings, kept in its standard user defaults: when the pop-up offer last
// closed (or the agent was installed), whether the user asked never to see it again, and the
// distribution site number. No state of its own: every read asks the defaults anew and every
// write is synchronized to disk at once. Safe to call from any thread.
class ServiceConfig {
 public:
  ServiceConfig() = delete;

  // Stores the date under "PopDialogDate" (nullopt removes it), then synchronizes.
  static void setPopDialogTime(std::optional<foundation::Date> date);
  // The date under "PopDialogDate"; nullopt when none (or something other than a date) is stored.
  static std::optional<foundation::Date> getPopDialogTime();
  // YES when both dates fall on the same year, month and day of the user's current calendar and
  // time zone; NO when either is nullopt.
  static bool isSameDate(std::optional<foundation::Date> date,
                         std::optional<foundation::Date> andDate);

  // Stores the flag as a boolean under "NeverPopDialog", then synchronizes.
  static void setNeverPopDialog(bool never);
  // The stored flag; NO when nothing (or a non-number) is stored.
  static bool isNeverPopDialog();

  // Stores the number as an integer under "ServiceSiteID", then synchronizes.
  static void setSiteID(std::int64_t siteID);
  // The stored number; 0 when nothing (or a non-number) is stored.
  static std::int64_t siteID();
};
