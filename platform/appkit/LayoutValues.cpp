#include "appkit/LayoutValues.h"

#include <cmath>
#include <set>
#include <string>

#include "foundation/PropertyList.h"

namespace appkit {

std::optional<double> layoutNumber(const foundation::PlistValue& value) {
  double number = 0;
  if (const auto* integer = std::get_if<std::int64_t>(&value.storage())) {
    number = static_cast<double>(*integer);
  } else if (const auto* real = std::get_if<double>(&value.storage())) {
    number = *real;
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

std::optional<std::string> layoutString(const foundation::PlistValue& value) {
  if (const std::string* string = value.string()) return *string;
  return std::nullopt;
}

std::optional<bool> layoutBool(const foundation::PlistValue& value) {
  if (const auto* flag = std::get_if<bool>(&value.storage())) return *flag;
  return std::nullopt;
}

std::optional<Rect> layoutRect(const foundation::PlistValue& value) {
  const foundation::PlistArray* array = value.array();
  if (!array || array->size() != 4) return std::nullopt;
  double numbers[4];
  for (std::size_t index = 0; index < 4; ++index) {
    std::optional<double> number = layoutNumber((*array)[index]);
    if (!number) return std::nullopt;
    numbers[index] = *number;
  }
  if (numbers[2] < 0 || numbers[3] < 0) return std::nullopt;
  return Rect::make(numbers[0], numbers[1], numbers[2], numbers[3]);
}

std::optional<Color> layoutColor(const foundation::PlistValue& value) {
  const foundation::PlistDictionary* dictionary = value.dictionary();
  if (!dictionary) return std::nullopt;
  auto component = [dictionary](const char* key, double fallback) -> std::optional<double> {
    auto it = dictionary->find(key);
    if (it == dictionary->end()) return fallback;
    std::optional<double> number = layoutNumber(it->second);
    if (!number || *number < 0 || *number > 1) return std::nullopt;
    return number;
  };
  auto onlyKeys = [dictionary](std::set<std::string> allowed) {
    for (const auto& [key, member] : *dictionary) {
      if (!allowed.count(key)) return false;
    }
    return true;
  };
  std::optional<double> alpha = component("alpha", 1.0);
  if (!alpha) return std::nullopt;
  if (dictionary->count("white")) {
    std::optional<double> white = component("white", 0.0);
    if (!white || !onlyKeys({"white", "alpha"})) return std::nullopt;
    return Color::colorWithCalibratedWhite(*white, *alpha);
  }
  if (!dictionary->count("red") || !dictionary->count("green") || !dictionary->count("blue")) {
    return std::nullopt;
  }
  std::optional<double> red = component("red", 0.0);
  std::optional<double> green = component("green", 0.0);
  std::optional<double> blue = component("blue", 0.0);
  if (!red || !green || !blue || !onlyKeys({"red", "green", "blue", "alpha"})) return std::nullopt;
  return Color::colorWithCalibratedRed(*red, *green, *blue, *alpha);
}

}  // namespace appkit
