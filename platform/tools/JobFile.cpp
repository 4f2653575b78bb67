#include "JobFile.h"

#include <sys/stat.h>

#include <strings.h>

#include <cerrno>
#include <cstring>

#include "foundation/PropertyList.h"

namespace launchd {
namespace {

using foundation::PlistValue;

std::optional<std::string> stringFor(const PlistValue& job, const char* key) {
  const PlistValue* value = job.objectForKey(key);
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

}  // namespace

std::string JobDescription::executable() const {
  if (program) return *program;
  return arguments.empty() ? std::string() : arguments.front();
}

bool JobDescription::loadsInSessionType(std::string_view type) const {
  auto same = [&](const std::string& named) {
    return named.size() == type.size() &&
           ::strncasecmp(named.data(), type.data(), type.size()) == 0;
  };
  if (sessionTypes.empty()) return same("Aqua");
  for (const std::string& named : sessionTypes) {
    if (same(named)) return true;
  }
  return false;
}

bool isValidLabel(const std::string& label) {
  return !label.empty() && label != "." && label != ".." && label.find('/') == std::string::npos &&
         label.find('\0') == std::string::npos;
}

foundation::Result<JobDescription> readJobFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return foundation::Error{std::strerror(errno), errno, "stat"};
  auto plist = foundation::readPropertyListFile(path);
  if (!plist || !plist->dictionary()) return foundation::Error{"Invalid property list"};

  JobDescription job;
  auto label = stringFor(*plist, "Label");
  if (!label || !isValidLabel(*label)) return foundation::Error{"Invalid or missing Label"};
  job.label = *label;
  job.program = stringFor(*plist, "Program");
  if (const PlistValue* arguments = plist->objectForKey("ProgramArguments")) {
    if (!arguments->array()) return foundation::Error{"ProgramArguments is not an array"};
    for (const PlistValue& argument : *arguments->array()) {
      if (!argument.string()) return foundation::Error{"ProgramArguments holds a non-string"};
      job.arguments.push_back(*argument.string());
    }
  }
  job.standardOutPath = stringFor(*plist, "StandardOutPath");
  job.standardErrorPath = stringFor(*plist, "StandardErrorPath");
  job.workingDirectory = stringFor(*plist, "WorkingDirectory");
  if (const PlistValue* variables = plist->objectForKey("EnvironmentVariables")) {
    if (const auto* dictionary = variables->dictionary()) {
      for (const auto& [name, value] : *dictionary) {
        if (value.string()) job.environment[name] = *value.string();
      }
    }
  }
  if (const PlistValue* disabled = plist->objectForKey("Disabled")) {
    job.disabled = disabled->boolValue().value_or(false);
  }
  if (const PlistValue* timeout = plist->objectForKey("ExitTimeOut")) {
    if (auto seconds = timeout->integerValue(); seconds && *seconds >= 0 && *seconds <= 3600) {
      job.exitTimeOut = static_cast<int>(*seconds);
    }
  }
  if (const PlistValue* types = plist->objectForKey("LimitLoadToSessionType")) {
    constexpr const char* kBadTypes =
        "LimitLoadToSessionType is neither a string nor an array of strings";
    if (types->string()) {
      job.sessionTypes.push_back(*types->string());
    } else if (types->array()) {
      for (const PlistValue& type : *types->array()) {
        if (!type.string()) return foundation::Error{kBadTypes};
        job.sessionTypes.push_back(*type.string());
      }
    } else {
      return foundation::Error{kBadTypes};
    }
  }
  return job;
}

}  // namespace launchd
