// The property-list reader, XML and binary, on any bytes: no crash, no leak, no undefined
// behaviour, and every accessor answers on whatever it returns.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/PropertyList.h"

namespace {

// Touches every value the way callers do, so that the sanitizers see each one read.
size_t visit(const foundation::PlistValue& value) {
  size_t seen = 1;
  (void)value.integerValue();
  (void)value.boolValue();
  if (const foundation::PlistArray* items = value.array()) {
    for (const foundation::PlistValue& item : *items) seen += visit(item);
  }
  if (const foundation::PlistDictionary* entries = value.dictionary()) {
    for (const auto& [key, item] : *entries) {
      if (value.objectForKey(key) != &item) __builtin_trap();
      seen += visit(item);
    }
  }
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto value = foundation::parsePropertyList(bytes)) visit(*value);
  return 0;
}
