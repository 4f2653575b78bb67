#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The test process's environment ("NAME=value" entries) with `given` entries replacing those of
// the same name or added, for starting a child.
std::vector<std::string> environmentWith(const std::vector<std::string>& given);

}  // namespace testing_support
