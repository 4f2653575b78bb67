#include "support/Environment.h"

#include <string_view>

extern char** environ;

namespace testing_support {

std::vector<std::string> environmentWith(const std::vector<std::string>& given) {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view current(*entry);
    bool replaced = false;
    for (const std::string& variable : given) {
      std::string_view name = std::string_view(variable).substr(0, variable.find('=') + 1);
      replaced = replaced || current.substr(0, name.size()) == name;
    }
    if (!replaced) variables.emplace_back(current);
  }
  variables.insert(variables.end(), given.begin(), given.end());
  return variables;
}

}  // namespace testing_support
