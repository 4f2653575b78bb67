// The ".strings" reader on any bytes: no crash, no leak, no undefined behaviour; every key and
// text it returns is valid UTF-8; and a table written back in the text form reads as the same
// table.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "foundation/StringsTable.h"

namespace {

// `text` as a double-quoted string of the text form: only the quote and the backslash escaped.
void appendQuoted(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

std::string textForm(const foundation::StringsTable& table) {
  std::string out = "/* written back */\n";
  for (const auto& [key, value] : table) {
    appendQuoted(out, key);
    out += " = ";
    appendQuoted(out, value);
    out += ";\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<foundation::StringsTable> table = foundation::parseStringsTable(bytes);
  if (!table) return 0;
  for (const auto& [key, value] : *table) {
    if (!fuzz_support::isUtf8(key) || !fuzz_support::isUtf8(value)) {
      fuzz_support::fail("a key or text of the table is not valid UTF-8");
    }
  }
  std::optional<foundation::StringsTable> again = foundation::parseStringsTable(textForm(*table));
  if (!again) fuzz_support::fail("the table written back in the text form does not read");
  if (*again != *table) fuzz_support::fail("the table written back reads as another table");
  return 0;
}
