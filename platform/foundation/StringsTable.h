#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// A message table: key → text, both UTF-8.
using StringsTable = std::map<std::string, std::string>;

// Reads a ".strings" message table: the old-style text form (`"key" = "value";`, `"key";`,
// comments, quoted or unquoted strings, backslash escapes) in UTF-8 (with or without a byte-order
// mark) or UTF-16 with a byte-order mark, or an XML or binary property list whose top level is a
// dictionary of strings. nullopt when the file can't be read or is malformed in any way (a missing
// ';', an unterminated string or comment, invalid UTF-8 or UTF-16, a non-string value). A later
// entry for the same key replaces an earlier one. Linear in the input; never crashes.
std::optional<StringsTable> readStringsTable(const std::string& path);
std::optional<StringsTable> parseStringsTable(std::string_view bytes);

}  // namespace foundation
