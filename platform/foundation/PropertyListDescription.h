#pragma once

#include <string>

#include "PropertyList.h"

namespace foundation {

// The text a log line shows for a property-list value, in the old-style property-list form:
// dictionaries as "{\n    key = value;\n}" (keys in order), arrays as "(\n    a,\n    b\n)", four
// spaces per level; strings bare when made of [A-Za-z0-9_.$/:-], else quoted with \" \\ \n \t
// escapes; booleans 1 or 0; dates quoted as "YYYY-MM-DD HH:MM:SS +0000" (UTC); data as
// <0011aabb 2233>.
std::string descriptionOfPropertyList(const PlistValue& value);

}  // namespace foundation
