#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Date.h"
#include "Result.h"

namespace foundation {

class PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDictionary = std::map<std::string, PlistValue>;
using PlistData = std::vector<std::uint8_t>;

// One property-list object: dictionary, array, string, integer, real, boolean, date or data.
// A plain value type; copies are deep.
class PlistValue {
 public:
  using Storage = std::variant<std::string, std::int64_t, double, bool, Date, PlistData, PlistArray,
                               PlistDictionary>;

  PlistValue() : _storage(PlistDictionary{}) {}
  PlistValue(std::string value) : _storage(std::move(value)) {}
  PlistValue(const char* value) : _storage(std::string(value)) {}
  PlistValue(std::int64_t value) : _storage(value) {}
  PlistValue(int value) : _storage(static_cast<std::int64_t>(value)) {}
  PlistValue(double value) : _storage(value) {}
  PlistValue(bool value) : _storage(value) {}
  PlistValue(Date value) : _storage(value) {}
  PlistValue(PlistData value) : _storage(std::move(value)) {}
  PlistValue(PlistArray value) : _storage(std::move(value)) {}
  PlistValue(PlistDictionary value) : _storage(std::move(value)) {}

  const Storage& storage() const { return _storage; }

  // Typed views: null when the value is of another type.
  const std::string* string() const { return std::get_if<std::string>(&_storage); }
  const Date* date() const { return std::get_if<Date>(&_storage); }
  const PlistData* data() const { return std::get_if<PlistData>(&_storage); }
  const PlistArray* array() const { return std::get_if<PlistArray>(&_storage); }
  const PlistDictionary* dictionary() const { return std::get_if<PlistDictionary>(&_storage); }
  PlistDictionary* dictionary() { return std::get_if<PlistDictionary>(&_storage); }
  bool isNumber() const;  // integer, real or boolean
  bool isBoolean() const { return std::holds_alternative<bool>(_storage); }

  // A number's value as an integer (reals truncated, booleans 0/1); nullopt for non-numbers.
  std::optional<std::int64_t> integerValue() const;
  // A number's value as a boolean (non-zero is true); nullopt for non-numbers.
  std::optional<bool> boolValue() const;

  // The member of a dictionary under `key`, or null (also when this is not a dictionary).
  const PlistValue* objectForKey(std::string_view key) const;

  bool operator==(const PlistValue& other) const { return _storage == other._storage; }

 private:
  Storage _storage;
};

// Parses an XML or binary property list. Malformed or unsupported input of any kind gives nullopt,
// and so does a NUL character in a string or key. A value the XML form cannot carry (a date outside
// the years 1 to 9999, not finite, or not a date at all; a string or key with a control character
// or bytes that are not UTF-8) is left out of its dictionary or array, and the rest is read
// (`droppedValues`, when given, counts them); such a value at the top gives nullopt.
// Whatever this returns, propertyListXml can write.
std::optional<PlistValue> parsePropertyList(std::string_view bytes,
                                            size_t* droppedValues = nullptr);
// Reads a property-list file; an error when it can't be read (with the errno of the failing
// call) or parsed. The paths of the file functions here are agent paths, mapped as platformPath
// maps them.
Result<PlistValue> readPropertyListFile(const std::string& path);
// The XML form of `value`: dates in whole seconds (rounded down), reals to seventeen digits ("nan",
// "+infinity", "-infinity" as such). An error saying why when it holds something XML cannot carry
// (a date outside the years 1 to 9999, a string or key that is not UTF-8 or holds a character XML
// 1.0 forbids, such as a control character other than tab, newline and return, deeper nesting
// than a read accepts).
Result<std::string> propertyListXml(const PlistValue& value);
// Writes `value` as an XML property list, atomically: a temporary file beside `path`, fsync,
// rename. Readers see the old file or the new one, never a torn one. An error when any step fails
// (the old file is then left as it was).
Result<void> writePropertyListFile(const std::string& path, const PlistValue& value);

// Writes `bytes` to `path` atomically, as writePropertyListFile does; an error naming the failing
// call and its errno when a step fails.
Result<void> writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace foundation
