#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/PropertyList.h"

namespace testing_support {

// A control's place in the bundle's pop-up layout, in points from the window's bottom left.
struct LayoutFrame {
  double x = 0, y = 0, width = 0, height = 0;
};

// The frame of the layout object `id` in the window layout of the bundle at `bundle`; nullopt
// when it has none.
inline std::optional<LayoutFrame> layoutFrame(const std::string& bundle, const std::string& id) {
  const auto layout =
      foundation::readPropertyListFile(bundle + "/Contents/Resources/MainMenu.layout");
  const foundation::PlistValue* objects = layout ? layout->objectForKey("Objects") : nullptr;
  if (!objects || !objects->array()) return std::nullopt;
  for (const foundation::PlistValue& object : *objects->array()) {
    const foundation::PlistValue* name = object.objectForKey("id");
    if (!name || !name->string() || *name->string() != id) continue;
    const foundation::PlistValue* properties = object.objectForKey("properties");
    const foundation::PlistValue* frame = properties ? properties->objectForKey("frame") : nullptr;
    if (!frame || !frame->array() || frame->array()->size() != 4) return std::nullopt;
    double values[4];
    for (std::size_t index = 0; index < 4; ++index) {
      std::optional<std::int64_t> value = (*frame->array())[index].integerValue();
      if (!value) return std::nullopt;
      values[index] = double(*value);
    }
    return LayoutFrame{values[0], values[1], values[2], values[3]};
  }
  return std::nullopt;
}

}  // namespace testing_support
