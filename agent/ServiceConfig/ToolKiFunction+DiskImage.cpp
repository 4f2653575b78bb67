#include <string_view>

#include "MendkitAgentManager.h"
#include "ToolKiFunction.h"
#include "foundation/AppleScript.h"
#include "foundation/Bundle.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/PropertyListDescription.h"
#include "foundation/Shell.h"

using foundation::AppleEventDescriptor;

namespace {

constexpr const char* kTestScript = "test_attach.sh";
constexpr const char* kInstallScript = "install_script.sh";

// The bundle resource `name` by path, or nullopt when the agent does not run from a bundle.
std::optional<std::string> bundleScriptPath(const char* name) {
  const foundation::Bundle* bundle = foundation::Bundle::main();
  if (!bundle) return std::nullopt;
  return bundle->resourcePath() + "/" + name;
}

// Whether the last "."-separated piece of `path` is exactly "dmg".
bool hasDiskImageExtension(std::string_view path) {
  return path.substr(path.rfind('.') + 1) == "dmg";
}

// The checks before any installation step: answers false (logging a refused path) when `path`
// is not one to install from.
bool isInstallablePath(const std::optional<std::string>& path) {
  if (path && !hasDiskImageExtension(*path)) {
    foundation::NSLog("Dmg file error!");
    return false;
  }
  return path.has_value();
}

}  // namespace

bool ToolKiFunction::attactDmgFile(const std::string& path) {
  std::optional<std::string> script = bundleScriptPath(kTestScript);
  if (!script) return false;
  std::string command =
      foundation::shellDoubleQuoted(*script) + " " + foundation::shellDoubleQuoted(path);
  return foundation::runShellCommand(command) == 0;
}

std::int32_t ToolKiFunction::runAppScripteInstallApp(const std::optional<std::string>& path,
                                                     bool isAdministrator,
                                                     const InstallCompletion& result) {
  if (!isInstallablePath(path)) return -1;
  if (!attactDmgFile(*path)) {
    deleteFile(path);
    return -1;
  }

  std::int32_t answer = -1;
  std::optional<std::string> script = bundleScriptPath(kInstallScript);
  if (script) {
    // Every argument stays one word whatever it holds; ordinary paths are written as they are.
    std::string command = foundation::shellArgument(*script) + " " +
                          foundation::shellArgument(*path) + " " +
                          foundation::shellArgument(ApllicationPath()) + " " +
                          foundation::shellArgument(foundation::homeDirectory());
    foundation::AppleScript appleScript(
        MendkitAgentManager::appleScriptSource(command, isAdministrator));
    foundation::PlistDictionary errorInfo;
    std::optional<AppleEventDescriptor> output = appleScript.executeAndReturnError(&errorInfo);
    if (output) {
      foundation::NSLog("Appscript succes %s", output->stringValue().c_str());
      if (result) result(*output);
      answer = 0;
    } else {
      foundation::NSLog(
          "Appscript fail! %s",
          foundation::descriptionOfPropertyList(foundation::PlistValue(errorInfo)).c_str());
    }
  }
  deleteFile(path);
  return answer;
}

std::int32_t ToolKiFunction::runScripteInstallApp(const std::optional<std::string>& path,
                                                  const InstallCompletion& result) {
  if (!isInstallablePath(path)) return -1;
  return runAppScripteInstallApp(path, isAdministrator(),
                                 [&result](const AppleEventDescriptor& descriptor) {
                                   if (result) result(descriptor);
                                 });
}
