#include "PropertyList.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <vector>

#include "Paths.h"
#include "RegularFile.h"

namespace foundation {
namespace {

// Seconds between 1970-01-01 and 2001-01-01, the origin of property-list dates.
constexpr double kReferenceDateOffset = 978307200.0;
// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 256;
// Property lists the platform reads are small; anything larger is refused unread.
constexpr off_t kMaxFileSize = 256LL << 20;
// A binary list may refer to one object from many places; the parser copies it into each. More
// values than this, counted after that copying, are refused.
constexpr std::uint64_t kMaxExpandedValues = 1u << 22;

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

std::optional<PlistValue> fromNode(plist_t node, int depth) {
  if (!node || depth > kMaxDepth) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return PlistValue(value != 0);
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return PlistValue(static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return PlistValue(value);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return PlistValue(std::string(text ? text : "", text ? length : 0));
    }
    case PLIST_DATE: {
      int32_t seconds = 0, micros = 0;
      plist_get_date_val(node, &seconds, &micros);
      return PlistValue(Date{kReferenceDateOffset + seconds + micros / 1e6});
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      PlistData data;
      if (bytes) data.assign(bytes, bytes + length);
      return PlistValue(std::move(data));
    }
    case PLIST_ARRAY: {
      PlistArray items;
      uint32_t count = plist_array_get_size(node);
      items.reserve(count);
      for (uint32_t i = 0; i < count; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
      }
      return PlistValue(std::move(items));
    }
    case PLIST_DICT: {
      PlistDictionary entries;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      if (!iter) return std::nullopt;
      bool ok = true;
      while (ok) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!value) {
          std::free(key);
          break;
        }
        auto converted = fromNode(value, depth + 1);
        if (!key || !converted) {
          ok = false;
        } else {
          entries.insert_or_assign(key, std::move(*converted));
        }
        std::free(key);
      }
      std::free(iter);
      if (!ok) return std::nullopt;
      return PlistValue(std::move(entries));
    }
    default:  // keys and UIDs are not values of their own
      return std::nullopt;
  }
}

plist_t toNode(const PlistValue& value, int depth) {
  if (depth > kMaxDepth) return nullptr;
  const auto& storage = value.storage();
  if (auto* text = std::get_if<std::string>(&storage)) return plist_new_string(text->c_str());
  if (auto* number = std::get_if<std::int64_t>(&storage)) {
    return plist_new_uint(static_cast<uint64_t>(*number));
  }
  if (auto* real = std::get_if<double>(&storage)) return plist_new_real(*real);
  if (auto* flag = std::get_if<bool>(&storage)) return plist_new_bool(*flag ? 1 : 0);
  if (auto* date = std::get_if<Date>(&storage)) {
    double since = date->timeIntervalSince1970 - kReferenceDateOffset;
    double whole = std::floor(since);
    if (!std::isfinite(since) || whole < std::numeric_limits<int32_t>::min() ||
        whole > std::numeric_limits<int32_t>::max()) {
      return nullptr;
    }
    int32_t micros = static_cast<int32_t>(std::lround((since - whole) * 1e6));
    if (micros >= 1000000) micros = 999999;
    return plist_new_date(static_cast<int32_t>(whole), micros);
  }
  if (auto* data = std::get_if<PlistData>(&storage)) {
    return plist_new_data(reinterpret_cast<const char*>(data->data()), data->size());
  }
  if (auto* items = std::get_if<PlistArray>(&storage)) {
    plist_t array = plist_new_array();
    for (const PlistValue& item : *items) {
      plist_t child = toNode(item, depth + 1);
      if (!child) {
        plist_free(array);
        return nullptr;
      }
      plist_array_append_item(array, child);
    }
    return array;
  }
  const auto& entries = std::get<PlistDictionary>(storage);
  plist_t dict = plist_new_dict();
  for (const auto& [key, item] : entries) {
    plist_t child = toNode(item, depth + 1);
    if (!child) {
      plist_free(dict);
      return nullptr;
    }
    plist_dict_set_item(dict, key.c_str(), child);
  }
  return dict;
}

// Checks the shape of XML input before the parser sees it: nesting no deeper than kMaxDepth (the
// parser recurses per level) and every element closed (the parser accepts a truncated document).
bool xmlIsBalancedAndBounded(std::string_view bytes) {
  int depth = 0;
  bool sawElement = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '<') continue;
    if (i + 1 >= bytes.size()) return false;
    size_t close = bytes.find('>', i);
    if (close == std::string_view::npos) return false;
    char next = bytes[i + 1];
    if (next == '/') {
      if (--depth < 0) return false;
    } else if (next != '?' && next != '!' && bytes[close - 1] != '/') {
      if (++depth > kMaxDepth + 4) return false;
      sawElement = true;
    }
    i = close;
  }
  return sawElement && depth == 0;
}

std::uint64_t bigEndian(std::string_view bytes, size_t offset, size_t width) {
  std::uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

// The layout of a binary list, read from its 32-byte trailer; see binaryIsSafe.
struct BinaryLayout {
  size_t offsetSize = 0;  // bytes per entry of the offset table
  size_t refSize = 0;     // bytes per object reference inside containers
  std::uint64_t objects = 0;
  std::uint64_t top = 0;
  std::uint64_t table = 0;  // where the offset table starts; objects lie before it
};

constexpr size_t kBinaryHeader = 8, kBinaryTrailer = 32;

std::optional<BinaryLayout> binaryLayout(std::string_view bytes) {
  if (bytes.size() < kBinaryHeader + kBinaryTrailer) return std::nullopt;
  size_t trailer = bytes.size() - kBinaryTrailer;
  BinaryLayout layout;
  layout.offsetSize = static_cast<unsigned char>(bytes[trailer + 6]);
  layout.refSize = static_cast<unsigned char>(bytes[trailer + 7]);
  layout.objects = bigEndian(bytes, trailer + 8, 8);
  layout.top = bigEndian(bytes, trailer + 16, 8);
  layout.table = bigEndian(bytes, trailer + 24, 8);
  if (layout.offsetSize < 1 || layout.offsetSize > 8 || layout.refSize < 1 || layout.refSize > 8 ||
      layout.table < kBinaryHeader || layout.table > trailer ||
      layout.objects > (trailer - layout.table) / layout.offsetSize ||
      layout.top >= layout.objects) {
    return std::nullopt;
  }
  return layout;
}

// The object's length field: the low nibble of its marker, or the integer that follows when the
// nibble is 0xF. `start` is moved past the marker (and that integer). nullopt when it runs off.
std::optional<std::uint64_t> binaryLength(std::string_view bytes, std::uint64_t table,
                                          std::uint64_t at, std::uint64_t& start) {
  std::uint64_t length = static_cast<unsigned char>(bytes[at]) & 0xF;
  start = at + 1;
  if (length != 0xF) return length;
  if (start >= table) return std::nullopt;
  unsigned char intMarker = static_cast<unsigned char>(bytes[start]);
  size_t width = size_t{1} << (intMarker & 0xF);
  if ((intMarker >> 4) != 0x1 || width > 8 || start + 1 + width > table) return std::nullopt;
  length = bigEndian(bytes, start + 1, width);
  start += 1 + width;
  return length;
}

// Checks a binary list before the parser library sees it, refusing what the library handles
// badly: a string holding a zero character (a dictionary key with one stops the process with a
// failed assertion), and containers nested deeper than kMaxDepth or referring back to themselves
// (the library recurses once per level and checks for cycles at a cost that grows with the square
// of the depth), or that expand to more than kMaxExpandedValues values once shared references are
// copied. Every object's height and expanded size are worked out once: linear in the input.
bool binaryIsSafe(std::string_view bytes) {
  std::optional<BinaryLayout> found = binaryLayout(bytes);
  if (!found) return false;
  const BinaryLayout& layout = *found;
  auto offsetOf = [&](std::uint64_t index) {
    return bigEndian(bytes, layout.table + index * layout.offsetSize, layout.offsetSize);
  };

  // Children of a container object (none for any other kind); false when malformed. Offsets
  // are checked by the strings pass, which runs first.
  auto children = [&](std::uint64_t index, std::vector<std::uint64_t>& out) {
    std::uint64_t at = offsetOf(index);
    unsigned kind = static_cast<unsigned char>(bytes[at]) >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
    std::uint64_t start = 0;
    std::optional<std::uint64_t> count = binaryLength(bytes, layout.table, at, start);
    if (!count) return false;
    std::uint64_t refs = kind == 0xD ? 2 : 1;
    if (*count > (layout.table - start) / layout.refSize / refs) return false;
    for (std::uint64_t i = 0; i < *count * refs; ++i) {
      std::uint64_t child = bigEndian(bytes, start + i * layout.refSize, layout.refSize);
      if (child >= layout.objects) return false;
      out.push_back(child);
    }
    return true;
  };

  // Strings first: every object, reachable or not, as the library may read them all.
  for (std::uint64_t index = 0; index < layout.objects; ++index) {
    std::uint64_t at = offsetOf(index);
    if (at < kBinaryHeader || at >= layout.table) return false;
    unsigned kind = static_cast<unsigned char>(bytes[at]) >> 4;
    if (kind != 0x5 && kind != 0x6) continue;
    std::uint64_t start = 0;
    std::optional<std::uint64_t> length = binaryLength(bytes, layout.table, at, start);
    if (!length) return false;
    std::uint64_t unit = kind == 0x6 ? 2 : 1;
    if (*length > (layout.table - start) / unit) return false;
    for (std::uint64_t i = 0; i < *length; ++i) {
      bool zero = bytes[start + i * unit] == 0 && (unit == 1 || bytes[start + i * unit + 1] == 0);
      if (zero) return false;
    }
  }

  // Nesting: a depth-first walk from the top object with an explicit stack.
  enum : std::uint8_t { kUnseen, kOpen, kDone };
  std::vector<std::uint8_t> state(layout.objects, kUnseen);
  std::vector<std::uint16_t> height(layout.objects, 0);
  std::vector<std::uint64_t> expanded(layout.objects, 1);
  struct Frame {
    std::uint64_t index;
    std::vector<std::uint64_t> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  auto enter = [&](std::uint64_t index) {
    state[index] = kOpen;
    stack.push_back({index, {}});
    return children(index, stack.back().children);
  };
  if (!enter(layout.top)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.children.size()) {
      std::uint16_t tallest = 0;
      std::uint64_t size = 1;
      for (std::uint64_t child : frame.children) {
        tallest = std::max(tallest, height[child]);
        size += expanded[child];  // each term is at most kMaxExpandedValues: no overflow
        if (size > kMaxExpandedValues) return false;
      }
      if (!frame.children.empty() && ++tallest > kMaxDepth) return false;
      height[frame.index] = tallest;
      expanded[frame.index] = size;
      state[frame.index] = kDone;
      stack.pop_back();
      continue;
    }
    std::uint64_t child = frame.children[frame.next++];
    if (state[child] == kOpen) return false;  // a container that contains itself
    if (state[child] == kDone) continue;
    if (stack.size() > kMaxDepth || !enter(child)) return false;
  }
  return true;
}

// The process's umask, read without changing it (umask() itself would race other threads).
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

bool PlistValue::isNumber() const {
  return std::holds_alternative<std::int64_t>(_storage) ||
         std::holds_alternative<double>(_storage) || std::holds_alternative<bool>(_storage);
}

std::optional<std::int64_t> PlistValue::integerValue() const {
  if (auto* number = std::get_if<std::int64_t>(&_storage)) return *number;
  if (auto* flag = std::get_if<bool>(&_storage)) return *flag ? 1 : 0;
  if (auto* real = std::get_if<double>(&_storage)) {
    if (!std::isfinite(*real)) return 0;
    if (*real >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (*real <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(*real);
  }
  return std::nullopt;
}

std::optional<bool> PlistValue::boolValue() const {
  if (auto* flag = std::get_if<bool>(&_storage)) return *flag;
  if (auto* number = std::get_if<std::int64_t>(&_storage)) return *number != 0;
  if (auto* real = std::get_if<double>(&_storage)) return *real != 0.0;
  return std::nullopt;
}

const PlistValue* PlistValue::objectForKey(std::string_view key) const {
  const PlistDictionary* entries = dictionary();
  if (!entries) return nullptr;
  auto found = entries->find(std::string(key));
  return found == entries->end() ? nullptr : &found->second;
}

std::optional<PlistValue> parsePropertyList(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  bool binary = plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0;
  if (binary ? !binaryIsSafe(bytes) : !xmlIsBalancedAndBounded(bytes)) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  PlistHandle owner(root);
  return fromNode(root, 0);
}

std::optional<PlistValue> readPropertyListFile(const std::string& path) {
  std::optional<std::string> bytes = readRegularFile(path, kMaxFileSize);
  if (!bytes) return std::nullopt;
  return parsePropertyList(*bytes);
}

std::optional<std::string> propertyListXml(const PlistValue& value) {
  PlistHandle root(toNode(value, 0));
  if (!root) return std::nullopt;
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
  if (!xml) return std::nullopt;
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

bool writeFileAtomically(const std::string& agentPath, std::string_view bytes) {
  const std::string path = platformPath(agentPath);
  std::string folder = deletingLastPathComponent(path);
  std::string temporary = appendingPathComponent(folder.empty() ? "." : folder,
                                                 "." + lastPathComponent(path) + ".XXXXXX");
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // Keep the permissions a plain new file would get.
  bool ok = ::fchmod(fd, 0666 & ~currentUmask()) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool writePropertyListFile(const std::string& path, const PlistValue& value) {
  auto xml = propertyListXml(value);
  return xml && writeFileAtomically(path, *xml);
}

}  // namespace foundation
