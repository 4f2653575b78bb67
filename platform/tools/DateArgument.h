#pragma once

#include <optional>
#include <string_view>

#include "foundation/Date.h"

namespace tools {

// A date given on a command line, in one of these forms (years 1 to 9999):
//   2026-12-07 10:00:00 +0000     the form dates are printed in; also "+01:00", "Z", "UTC", "GMT"
//   2026-12-07T10:00:00Z          ISO 8601, with "Z" or an offset "+01:00" / "+0100"
//   2026-12-07 10:00:00           local time (TZ), also with "T"
//   2026-12-07                    local midnight
// nullopt for anything else, including a day or time that does not exist (2026-02-30, 24:00:00).
std::optional<foundation::Date> parseDateArgument(std::string_view text);

}  // namespace tools
