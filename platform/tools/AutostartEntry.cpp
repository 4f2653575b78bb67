#include "AutostartEntry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "JobFile.h"
#include "OverrideDatabase.h"
#include "foundation/Paths.h"
#include "foundation/ProcessInfo.h"
#include "foundation/PropertyList.h"
#include "foundation/RegularFile.h"

namespace launchd {
namespace {

constexpr std::string_view kEntryName = "launchctl-login.desktop";
constexpr off_t kMaxEntrySize = 64 * 1024;

// The characters after which an Exec argument must be quoted.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

bool anyJobLoadsAtGraphicalLogin() {
  for (const std::string& path :
       jobFilesIn(userAgentsFolder()).value_or(std::vector<std::string>{})) {
    foundation::Result<JobDescription> read = readJobFile(path);
    if (read && loadsAtGraphicalLogin(*read)) return true;
  }
  return false;
}

}  // namespace

std::string userAgentsFolder() {
  return foundation::appendingPathComponent(foundation::homeDirectory(), "Library/LaunchAgents");
}

std::optional<std::vector<std::string>> jobFilesIn(const std::string& folder) {
  std::vector<std::string> paths;
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  if (error) return std::nullopt;
  for (const auto& entry : entries) {
    std::string name = entry.path().filename().string();
    if (name.starts_with('.') || !name.ends_with(".plist")) continue;
    std::error_code ignored;
    if (entry.is_regular_file(ignored)) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool loadsAtGraphicalLogin(const JobDescription& job) {
  return !disabledOverride(job.label).value_or(job.disabled) &&
         job.loadsInSessionType(kGraphicalSessionType);
}

std::string autostartFolder() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  std::string config =
      configured && configured[0] == '/'
          ? std::string(configured)
          : foundation::appendingPathComponent(foundation::homeDirectory(), ".config");
  return foundation::appendingPathComponent(config, "autostart");
}

std::string autostartEntryPath() {
  return foundation::appendingPathComponent(autostartFolder(), kEntryName);
}

std::string desktopExecArgument(std::string_view argument) {
  std::string word;
  bool quoted = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
  if (quoted) word += '"';
  for (char c : argument) {
    if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) word += '\\';
    word += c;
    if (c == '%') word += '%';
  }
  if (quoted) word += '"';
  return word;
}

std::string desktopStringValue(std::string_view value) {
  std::string escaped;
  for (size_t index = 0; index < value.size(); ++index) {
    char c = value[index];
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case ' ':
        escaped += index == 0 ? "\\s" : " ";
        break;
      default:
        escaped += c;
        break;
    }
  }
  return escaped;
}

std::string autostartEntryText(std::string_view launchctlPath, uid_t uid,
                               std::string_view agentsFolder) {
  std::string exec = desktopExecArgument(launchctlPath) + " bootstrap " +
                     desktopExecArgument("gui/" + std::to_string(uid)) + " " +
                     desktopExecArgument(agentsFolder);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Launch agents\n"
         "Comment=Loads this user's enabled launch agents when the session starts\n"
         "TryExec=" +
         desktopStringValue(launchctlPath) +
         "\n"
         "Exec=" +
         desktopStringValue(exec) +
         "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

std::string updateAutostartEntry() {
  std::string folder = foundation::platformPath(autostartFolder());
  std::string path = foundation::appendingPathComponent(folder, kEntryName);
  if (!anyJobLoadsAtGraphicalLogin()) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return "";
    return "cannot remove the login entry " + path + ": " + std::strerror(errno);
  }
  std::string launchctl = foundation::ProcessInfo::executablePath();
  if (launchctl.empty() || launchctl.front() != '/' || launchctl.ends_with(" (deleted)")) {
    return "cannot write the login entry " + path + ": launchctl's own path is unknown";
  }
  std::string text =
      autostartEntryText(launchctl, ::getuid(), foundation::platformPath(userAgentsFolder()));
  if (foundation::readRegularFile(path, kMaxEntrySize) == text) return "";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return "cannot create " + folder + ": " + error.message();
  if (foundation::Result<void> written = foundation::writeFileAtomically(path, text); !written) {
    return "cannot write the login entry " + path + ": " + std::strerror(written.error().code);
  }
  return "";
}

}  // namespace launchd
