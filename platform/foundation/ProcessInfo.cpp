#include "ProcessInfo.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "Mutex.h"
#include "Paths.h"

namespace foundation {
namespace {

Mutex s_argumentsMutex;
bool s_argumentsSet GUARDED_BY(s_argumentsMutex) = false;
std::vector<std::string> s_arguments GUARDED_BY(s_argumentsMutex);

std::vector<std::string> readCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    parts.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::vector<std::string> ProcessInfo::arguments() {
  MutexLock guard(s_argumentsMutex);
  if (!s_argumentsSet) {
    s_arguments = readCommandLine();
    s_argumentsSet = true;
  }
  return s_arguments;
}

void ProcessInfo::setArguments(std::vector<std::string> arguments) {
  MutexLock guard(s_argumentsMutex);
  s_arguments = std::move(arguments);
  s_argumentsSet = true;
}

const std::string& ProcessInfo::processName() {
  static const std::string s_name = [] {
    // Without the executable's path, the name it was started under; /proc may be missing too.
    std::string path = executablePath();
    if (path.empty()) {
      std::vector<std::string> commandLine = readCommandLine();
      if (!commandLine.empty()) path = commandLine.front();
    }
    std::string name = lastPathComponent(path);
    return name.empty() ? std::string("unknown") : name;
  }();
  return s_name;
}

std::string ProcessInfo::executablePath() {
  std::string buffer(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return "";
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

}  // namespace foundation
