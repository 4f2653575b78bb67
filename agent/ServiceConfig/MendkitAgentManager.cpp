#include "MendkitAgentManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ToolKiFunction.h"
#include "foundation/AppleScript.h"
#include "foundation/Bundle.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileManager.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "foundation/PropertyListDescription.h"
#include "foundation/Shell.h"

using foundation::FileManager;
using foundation::PlistArray;
using foundation::PlistDictionary;
using foundation::PlistValue;
using foundation::runShellCommand;
using foundation::shellArgument;
using foundation::shellDoubleQuoted;

namespace {

constexpr const char* kOverrideDatabaseFormat =
    "/private/var/db/com.apple.xpc.launchd/disabled.%d.plist";

// The user's ~/Library, expanded.
std::string userLibraryFolder() {
  std::vector<std::string> folders = FileManager::searchPathForDirectoriesInDomains(
      foundation::NSLibraryDirectory, foundation::NSUserDomainMask, true);
  return folders.empty() ? std::string() : folders.front();
}

std::string launchAgentsFolder() {
  return foundation::appendingPathComponent(userLibraryFolder(), "LaunchAgents");
}

std::string jobFilePath(const std::string& label) {
  return foundation::appendingPathComponent(launchAgentsFolder(), label + ".plist");
}

// The job file path as "%@/%@/%@.plist" builds it from the library folder.
std::string formattedJobFilePath(const std::string& label) {
  return userLibraryFolder() + "/LaunchAgents/" + label + ".plist";
}

std::string overrideDatabasePath() {
  char path[128];
  std::snprintf(path, sizeof path, kOverrideDatabaseFormat, static_cast<int>(::getuid()));
  return path;
}

// The AppleScript string text of `command`: a backslash before each backslash and double quote.
std::string appleScriptStringText(const std::string& command) {
  std::string text;
  for (char c : command) {
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  return text;
}

// Whether a new file can be made in `folder`: makes a hidden temporary file there, named after
// `name`, and removes it again. The file `name` itself is never touched.
bool canCreateFileIn(const std::string& folder, const std::string& name) {
  std::string probe = foundation::appendingPathComponent(folder, "." + name + ".XXXXXX");
  foundation::FileDescriptor file(::mkostemp(probe.data(), O_CLOEXEC));
  if (!file) return false;
  ::unlink(probe.c_str());
  return true;
}

}  // namespace

void MendkitAgentManager::installLaunchAgent(const std::optional<std::string>& templatePath) {
  if (!templatePath) return;
  auto read = foundation::readPropertyListFile(*templatePath);
  if (!read || !read->dictionary()) return;
  PlistDictionary job = std::move(*read->dictionary());

  auto labelEntry = job.find("Label");
  if (labelEntry == job.end() || !labelEntry->second.string() ||
      labelEntry->second.string()->empty()) {
    return;
  }
  std::string label = *labelEntry->second.string();
  std::string folder = launchAgentsFolder();
  std::string jobFile = jobFilePath(label);

  if (launchAgentIsInstall(label)) {
    foundation::NSLog("agent is already install!");
    return;
  }

  if (!FileManager::fileExistsAtPath(folder)) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) runComandUseAppleScript("mkdir " + shellDoubleQuoted(folder));
  }

  const foundation::Bundle* bundle = foundation::Bundle::main();
  if (!bundle) {
    foundation::NSLog("the agent's application bundle is not found, no job file written");
    return;
  }
  std::string bundlePath = bundle->bundlePath();

  if (::access(folder.c_str(), W_OK) != 0) {
    foundation::NSLog("launchpath can not be writable %s",
                      foundation::descriptionOfPropertyList(PlistValue(job)).c_str());
    return;
  }

  // The job file appears whole or not at all: launchd cannot read an empty or torn one.
  if (!canCreateFileIn(folder, foundation::lastPathComponent(jobFile))) return;

  job["ProgramArguments"] =
      PlistValue(PlistArray{"/usr/bin/open", "-g", "-W", bundlePath, "--args", "-r"});
  if (!foundation::writePropertyListFile(jobFile, PlistValue(job))) {
    foundation::NSLog("the job file %s could not be written", jobFile.c_str());
  }

  runShellCommand("launchctl unload -w " + shellDoubleQuoted(jobFile));
}

bool MendkitAgentManager::launchAgentIsInstall(const std::string& label) {
  return FileManager::fileExistsAtPath(jobFilePath(label));
}

bool MendkitAgentManager::launchAgentIsLoad(const std::string& label) {
  auto database = foundation::readPropertyListFile(overrideDatabasePath());
  if (!database) return false;
  const PlistValue* entry = database->objectForKey(label);
  if (!entry) return false;
  std::optional<bool> disabled = entry->boolValue();
  return disabled && !*disabled;
}

void MendkitAgentManager::loadLaunchAgent(const std::optional<std::string>& label, bool needLoad) {
  if (!label || label->empty()) return;
  runShellCommand("launchctl remove " + shellArgument(*label));
  std::string jobFile = formattedJobFilePath(*label);
  if (needLoad) {
    runShellCommand("launchctl load -w " + shellArgument(jobFile));
  } else {
    runShellCommand("launchctl unload -w " + shellArgument(jobFile));
  }
}

void MendkitAgentManager::removeAndUnloadLaunchAgent(const std::optional<std::string>& label) {
  if (!label || label->empty()) return;
  runShellCommand("launchctl remove " + shellArgument(*label));
  std::string jobFile = formattedJobFilePath(*label);
  runShellCommand("launchctl unload -w " + shellArgument(jobFile));
  FileManager::removeItemAtPath(jobFile);
}

std::string MendkitAgentManager::appleScriptSource(const std::string& command, bool administrator) {
  std::string source = "do shell script \"" + appleScriptStringText(command) + " \"";
  if (!administrator) source += " with administrator privileges";
  return source;
}

bool MendkitAgentManager::runComandUseAppleScript(const std::optional<std::string>& command) {
  if (!command || command->empty()) return false;
  foundation::AppleScript script(appleScriptSource(*command, ToolKiFunction::isAdministrator()));
  PlistDictionary errorInfo;
  std::optional<foundation::AppleEventDescriptor> result = script.executeAndReturnError(&errorInfo);
  if (result) {
    foundation::NSLog("Appscript succes %s", result->stringValue().c_str());
    return true;
  }
  foundation::NSLog("Appscript fail! %s",
                    foundation::descriptionOfPropertyList(PlistValue(errorInfo)).c_str());
  return false;
}
