#include "FuzzSupport.h"

#include "foundation/PropertyListDescription.h"

#include <sanitizer/common_interface_defs.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <variant>

namespace fuzz_support {
namespace {

std::string s_sandbox;

void removeSandbox() {
  std::error_code ignored;
  std::filesystem::remove_all(s_sandbox, ignored);
}

}  // namespace

const std::string& sandbox() {
  if (!s_sandbox.empty()) return s_sandbox;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mendkit-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) fail("cannot make the sandbox folder");
  s_sandbox = pattern;
  std::atexit(removeSandbox);
  std::filesystem::create_directories(s_sandbox + "/home");
  std::filesystem::create_directories(s_sandbox + "/root");
  setenv("HOME", (s_sandbox + "/home").c_str(), 1);
  setenv("PLATFORM_ROOT", (s_sandbox + "/root").c_str(), 1);
  return s_sandbox;
}

std::string home() { return sandbox() + "/home"; }

void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fail("cannot write the input file");
}

void emptyFolder(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
}

bool sameAfterXml(const foundation::PlistValue& a, const foundation::PlistValue& b) {
  using foundation::Date;
  using foundation::PlistArray;
  using foundation::PlistDictionary;
  const auto& left = a.storage();
  const auto& right = b.storage();
  if (left.index() != right.index()) return false;
  if (auto* x = std::get_if<double>(&left)) {
    double y = std::get<double>(right);
    return *x == y || (std::isnan(*x) && std::isnan(y));
  }
  if (auto* x = std::get_if<Date>(&left)) {
    return std::floor(x->timeIntervalSince1970) ==
           std::floor(std::get<Date>(right).timeIntervalSince1970);
  }
  if (auto* x = std::get_if<PlistArray>(&left)) {
    const auto& y = std::get<PlistArray>(right);
    if (x->size() != y.size()) return false;
    for (size_t i = 0; i < x->size(); ++i) {
      if (!sameAfterXml((*x)[i], y[i])) return false;
    }
    return true;
  }
  if (auto* x = std::get_if<PlistDictionary>(&left)) {
    const auto& y = std::get<PlistDictionary>(right);
    if (x->size() != y.size()) return false;
    for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j) {
      if (i->first != j->first || !sameAfterXml(i->second, j->second)) return false;
    }
    return true;
  }
  return left == right;
}

bool isUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    unsigned lead = static_cast<unsigned char>(text[i]);
    size_t length;
    unsigned long code;
    unsigned long smallest;
    if (lead <= 0x7F) {
      length = 1, code = lead, smallest = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      unsigned next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

void failWithValues(const char* what, const foundation::PlistValue& expected,
                    const foundation::PlistValue& actual) {
  std::fprintf(stderr, "expected:\n%s\nactual:\n%s\n",
               foundation::descriptionOfPropertyList(expected).c_str(),
               foundation::descriptionOfPropertyList(actual).c_str());
  fail(what);
}

void fail(const char* what) {
  // Through the sanitizers' report stream, which stays open when the target's standard error is
  // closed (libFuzzer's -close_fd_mask=2).
  std::string line = std::string("fuzz check failed: ") + what;
  __sanitizer_report_error_summary(line.c_str());
  std::abort();
}

}  // namespace fuzz_support
