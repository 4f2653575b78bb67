#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A desktop entry's Exec value as a session manager splits it: the key file's escapes undone,
// then the quoting, then "%%" read as "%". Any other form the rules forbid fails the test.
std::vector<std::string> execArguments(const std::string& entry);

}  // namespace testing_support
