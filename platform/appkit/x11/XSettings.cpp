#include "appkit/x11/XSettings.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace appkit {
namespace {

constexpr int kInteger = 0, kString = 1, kColor = 2;

// Reads CARD16 and CARD32 values in the byte order the property names.
class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size) : _data(data), _size(size) {}
  void setBigEndian(bool big) { _big = big; }
  bool skip(std::size_t count) {
    if (_size - _at < count) return false;
    _at += count;
    return true;
  }
  std::optional<std::uint32_t> card(std::size_t bytes) {
    if (_size - _at < bytes) return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      std::uint32_t byte = _data[_at + (_big ? i : bytes - 1 - i)];
      value = value << 8 | byte;
    }
    _at += bytes;
    return value;
  }
  std::optional<std::string_view> text(std::size_t length) {
    if (_size - _at < length) return std::nullopt;
    std::string_view value(reinterpret_cast<const char*>(_data + _at), length);
    _at += length;
    return value;
  }

 private:
  const unsigned char* _data;
  std::size_t _size;
  std::size_t _at = 0;
  bool _big = false;
};

std::size_t padded(std::size_t length) { return (length + 3) & ~std::size_t(3); }

}  // namespace

XSettings XSettings::parse(const unsigned char* data, std::size_t size) {
  XSettings settings;
  if (!data || size < 12) return settings;
  Reader reader(data, size);
  reader.setBigEndian(data[0] == 'B');
  std::optional<std::uint32_t> count;
  if (!reader.skip(4) || !reader.card(4) || !(count = reader.card(4))) return settings;
  for (std::uint32_t index = 0; index < *count; ++index) {
    std::optional<std::uint32_t> type = reader.card(1);
    std::optional<std::uint32_t> nameLength;
    if (!type || !reader.skip(1) || !(nameLength = reader.card(2))) break;
    std::optional<std::string_view> name = reader.text(*nameLength);
    if (!name || !reader.skip(padded(*nameLength) - *nameLength) || !reader.card(4)) break;
    if (*type == kInteger) {
      std::optional<std::uint32_t> raw = reader.card(4);
      if (!raw) break;
      auto value = static_cast<std::int32_t>(*raw);
      if (*name == "Gdk/WindowScalingFactor" && value >= 1) settings._windowScalingFactor = value;
      if (*name == "Xft/DPI" && value > 0) settings._dpi = value / 1024.0;
    } else if (*type == kString) {
      std::optional<std::uint32_t> length = reader.card(4);
      if (!length || !reader.skip(padded(*length))) break;
    } else if (*type == kColor) {
      if (!reader.skip(8)) break;
    } else {
      break;
    }
  }
  return settings;
}

std::optional<double> XSettings::scale() const {
  if (!_windowScalingFactor && !_dpi) return std::nullopt;
  double factor = _windowScalingFactor.value_or(1);
  return std::max(factor, _dpi.value_or(0) / 96);
}

}  // namespace appkit
