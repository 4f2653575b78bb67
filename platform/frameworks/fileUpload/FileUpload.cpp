#include "fileUpload/FileUpload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "UsageSpool.h"
#include "foundation/FileDescriptor.h"

using foundation::FileDescriptor;
using usage_spool::UsageSpool;

namespace {

constexpr const char* kUploadsFolder = "uploads";
constexpr const char* kUploadsIndex = "uploads.jsonl";
constexpr size_t kReplySize = 20;

// The field's text when it is NUL-terminated within its bounds and not empty.
bool fieldText(const char* field, size_t size, std::string* out) {
  size_t length = strnlen(field, size);
  if (length == 0 || length == size) return false;
  out->assign(field, length);
  return true;
}

bool isPlainName(const std::string& name) {
  return name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string uploadsFolder() { return UsageSpool::directory() + "/" + kUploadsFolder; }

int copyRegularFile(const std::string& source, const std::string& folder, const std::string& name) {
  // Non-blocking, so that a FIFO without a writer cannot hold the caller; refused below anyway.
  FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in) return -errno;
  struct stat status {};
  if (::fstat(in.get(), &status) != 0) return -errno;
  if (!S_ISREG(status.st_mode)) return S_ISDIR(status.st_mode) ? -EISDIR : -EINVAL;
  std::string temporary = folder + "/.upload-XXXXXX";
  FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out) return -errno;
  int result = 0;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result = -errno;
      break;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      ssize_t written = ::write(out.get(), buffer + done, static_cast<size_t>(got - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        result = written < 0 ? -errno : -EIO;
        break;
      }
      done += written;
    }
    if (result != 0) break;
  }
  in.reset();
  // Closed by hand: a failed close may mean the copy never reached the disk.
  if (::close(out.release()) != 0 && result == 0) result = -errno;
  std::string target = folder + "/" + name;
  if (result == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) result = -errno;
  if (result != 0) ::unlink(temporary.c_str());
  return result;
}

}  // namespace

extern "C" int32_t UpdateServerAddr(void) {
  int prepared = UsageSpool::prepare();
  if (prepared != 0) return prepared;
  std::error_code error;
  std::filesystem::create_directories(uploadsFolder(), error);
  return error ? -error.value() : 0;
}

extern "C" int32_t FileReport(const MFileInfo* info, char** reply) {
  if (!info) return -EINVAL;
  std::string path, name, type;
  if (!fieldText(info->filePath, sizeof info->filePath, &path) ||
      !fieldText(info->uploadName, sizeof info->uploadName, &name) ||
      !fieldText(info->fileType, sizeof info->fileType, &type) || !isPlainName(name)) {
    return -EINVAL;
  }
  try {
    if (int ready = UpdateServerAddr(); ready != 0) return ready;
    if (int copied = copyRegularFile(path, uploadsFolder(), name); copied != 0) return copied;
    int64_t number = 0;
    int recorded = UsageSpool::appendNumberedLine(
        kUploadsIndex,
        [&](int64_t next) {
          nlohmann::ordered_json line;
          line["uploadNumber"] = next;
          line["uploadName"] = name;
          line["filePath"] = path;
          line["fileType"] = type;
          line["time"] = UsageSpool::timestamp();
          return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        },
        &number);
    if (recorded != 0) return recorded;
    if (reply && *reply) std::snprintf(*reply, kReplySize, "%lld", static_cast<long long>(number));
    return 0;
  } catch (...) {
    return -ENOMEM;
  }
}
