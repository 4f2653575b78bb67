#pragma once

#include <optional>
#include <string>

#include "appkit/Color.h"
#include "appkit/Geometry.h"

namespace foundation {
class PlistValue;
}

namespace appkit {

// Readers of the value forms a window layout gives its properties. Each answers nullopt for a
// value of another form, so that a property setter can refuse it.

// An integer or a real, finite (booleans are not numbers here).
std::optional<double> layoutNumber(const foundation::PlistValue& value);
// A string.
std::optional<std::string> layoutString(const foundation::PlistValue& value);
// A boolean.
std::optional<bool> layoutBool(const foundation::PlistValue& value);
// An array of four numbers [x, y, width, height], width and height not negative.
std::optional<Rect> layoutRect(const foundation::PlistValue& value);
// A dictionary {red, green, blue, alpha} (calibrated RGB) or {white, alpha} (calibrated white),
// each a number from 0 to 1; alpha may be left out (1). Any other key is refused.
std::optional<Color> layoutColor(const foundation::PlistValue& value);

}  // namespace appkit
