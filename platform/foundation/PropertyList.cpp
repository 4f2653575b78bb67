#include "PropertyList.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <vector>

#include "FileDescriptor.h"
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

// Dates of the input, in the order first met. The copy of the input handed to the parser carries
// each date's index in its place (as seconds after the origin), so the parser's 32-bit date field
// never holds a real date. nullopt marks a date that can't be kept (see keepableDate).
using DateTable = std::vector<std::optional<Date>>;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month, day;
};

constexpr CivilDate civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The XML form writes four-digit years: dates from 0001-01-01 up to (not including) 10000-01-01.
constexpr std::int64_t kFirstXmlSecond = daysFromCivil(1, 1, 1) * 86400;
constexpr std::int64_t kPastLastXmlSecond = daysFromCivil(10000, 1, 1) * 86400;

// The whole second holding `date` (rounded down, before the origins as after them), or nullopt
// when the XML form can't carry it: not finite, or outside the years 1 to 9999.
std::optional<std::int64_t> xmlSecond(Date date) {
  double whole = std::floor(date.timeIntervalSince1970);
  if (!(whole >= static_cast<double>(kFirstXmlSecond) &&
        whole < static_cast<double>(kPastLastXmlSecond))) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(whole);
}

// `second` (Unix time, within the XML range) as the XML form writes it: 2001-01-01T00:00:00Z.
std::string xmlDateText(std::int64_t second) {
  std::int64_t days = second / 86400;
  std::int64_t within = second % 86400;
  if (within < 0) {
    within += 86400;
    --days;
  }
  CivilDate civil = civilFromDays(days);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                static_cast<long long>(civil.year), civil.month, civil.day,
                static_cast<long long>(within / 3600), static_cast<long long>(within / 60 % 60),
                static_cast<long long>(within % 60));
  return text;
}

// A date the XML form can carry, or nullopt.
std::optional<Date> keepableDate(double since1970) {
  Date date{since1970};
  if (!xmlSecond(date)) return std::nullopt;
  return date;
}

// Reads the text of an XML <date>: "YYYY-MM-DDTHH:MM:SS" with optional fractional seconds and a
// final 'Z', surrounding white space allowed. nullopt for anything else or a date that does not
// exist.
std::optional<Date> parseXmlDateText(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  size_t at = 0;
  auto number = [&](size_t digits, char then) -> std::optional<unsigned> {
    unsigned value = 0;
    for (size_t i = 0; i < digits; ++i, ++at) {
      if (at >= text.size() || text[at] < '0' || text[at] > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
    }
    if (then != '\0') {
      if (at >= text.size() || text[at] != then) return std::nullopt;
      ++at;
    }
    return value;
  };
  // Evaluated in this order: each call reads on from where the previous one stopped.
  std::optional<unsigned> year = number(4, '-');
  std::optional<unsigned> month = year ? number(2, '-') : std::nullopt;
  std::optional<unsigned> day = month ? number(2, 'T') : std::nullopt;
  std::optional<unsigned> hour = day ? number(2, ':') : std::nullopt;
  std::optional<unsigned> minute = hour ? number(2, ':') : std::nullopt;
  std::optional<unsigned> second = minute ? number(2, '\0') : std::nullopt;
  if (!second) return std::nullopt;
  double fraction = 0;
  if (at < text.size() && text[at] == '.') {
    double scale = 0.1;
    size_t first = ++at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
      fraction += (text[at] - '0') * scale;
    }
    if (at == first) return std::nullopt;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return std::nullopt;
  static constexpr unsigned kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = *year % 4 == 0 && (*year % 100 != 0 || *year % 400 == 0);
  if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > kDaysIn[*month - 1] ||
      (*month == 2 && *day == 29 && !leap) || *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  std::int64_t seconds =
      daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
  return Date{static_cast<double>(seconds) + fraction};
}

// Why XML 1.0 cannot carry `text` as character data, or nullptr when it can: it must be valid
// UTF-8 of characters the format allows (no control characters but tab, newline and return).
const char* whyXmlCannotCarry(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "a NUL character";
  if (!g_utf8_validate_len(text.data(), text.size(), nullptr)) return "bytes that are not UTF-8";
  for (const char* at = text.data(); at < text.data() + text.size(); at = g_utf8_next_char(at)) {
    gunichar c = g_utf8_get_char(at);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF) {
      return "a control character";
    }
  }
  return nullptr;
}

// How one node of the parser's tree converted.
enum class Conversion {
  ok,
  dropped,  // a value XML can't carry (a date beyond its range, a string with a control character
            // or bytes that are not UTF-8): left out of its container
  failed,   // the whole list is refused
};

// `dropped` counts the values left out.
Conversion fromNode(plist_t node, int depth, const DateTable& dates, size_t& dropped,
                    PlistValue& out) {
  if (!node || depth > kMaxDepth) return Conversion::failed;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      out = PlistValue(value != 0);
      return Conversion::ok;
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      out = PlistValue(static_cast<std::int64_t>(value));
      return Conversion::ok;
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      out = PlistValue(value);
      return Conversion::ok;
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      std::string value(text ? text : "", text ? length : 0);
      if (value.find('\0') != std::string::npos) return Conversion::failed;
      if (whyXmlCannotCarry(value)) {
        ++dropped;
        return Conversion::dropped;
      }
      out = PlistValue(std::move(value));
      return Conversion::ok;
    }
    case PLIST_DATE: {
      // Only the stand-ins put in by prepareXml / prepareBinary: seconds = index into `dates`.
      int32_t index = -1, micros = -1;
      plist_get_date_val(node, &index, &micros);
      if (index < 0 || static_cast<size_t>(index) >= dates.size() || micros != 0) {
        return Conversion::failed;
      }
      if (!dates[static_cast<size_t>(index)]) {
        ++dropped;
        return Conversion::dropped;
      }
      out = PlistValue(*dates[static_cast<size_t>(index)]);
      return Conversion::ok;
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* bytes = plist_get_data_ptr(node, &length);
      PlistData data;
      if (bytes) data.assign(bytes, bytes + length);
      out = PlistValue(std::move(data));
      return Conversion::ok;
    }
    case PLIST_ARRAY: {
      PlistArray items;
      uint32_t count = plist_array_get_size(node);
      items.reserve(count);
      for (uint32_t i = 0; i < count; ++i) {
        PlistValue item;
        Conversion result =
            fromNode(plist_array_get_item(node, i), depth + 1, dates, dropped, item);
        if (result == Conversion::failed) return result;
        if (result == Conversion::ok) items.push_back(std::move(item));
      }
      out = PlistValue(std::move(items));
      return Conversion::ok;
    }
    case PLIST_DICT: {
      PlistDictionary entries;
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      if (!iter) return Conversion::failed;
      Conversion outcome = Conversion::ok;
      while (outcome != Conversion::failed) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!value) {
          std::free(key);
          break;
        }
        PlistValue member;
        Conversion result =
            key ? fromNode(value, depth + 1, dates, dropped, member) : Conversion::failed;
        if (result == Conversion::ok && whyXmlCannotCarry(key)) {
          ++dropped;
          result = Conversion::dropped;
        }
        if (result == Conversion::failed) {
          outcome = result;
        } else if (result == Conversion::ok) {
          entries.insert_or_assign(key, std::move(member));
        }
        std::free(key);
      }
      std::free(iter);
      if (outcome == Conversion::failed) return outcome;
      out = PlistValue(std::move(entries));
      return Conversion::ok;
    }
    default:  // keys and UIDs are not values of their own
      return Conversion::failed;
  }
}

void appendEscaped(std::string_view text, std::string& out) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
}

bool appendText(const char* element, std::string_view text, std::string& out, std::string& whyNot) {
  if (const char* what = whyXmlCannotCarry(text)) {
    whyNot = std::string("a string or key holds ") + what + ", which XML cannot carry";
    return false;
  }
  out += '<';
  out += element;
  out += '>';
  appendEscaped(text, out);
  out += "</";
  out += element;
  out += ">\n";
  return true;
}

// Base64 in lines of 68 characters, each line indented like its <data> element.
void appendBase64(const PlistData& data, const std::string& indent, std::string& out) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr size_t kLine = 68;
  std::string encoded;
  encoded.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    std::uint32_t group = std::uint32_t{data[i]} << 16;
    if (i + 1 < data.size()) group |= std::uint32_t{data[i + 1]} << 8;
    if (i + 2 < data.size()) group |= data[i + 2];
    encoded += kAlphabet[(group >> 18) & 63];
    encoded += kAlphabet[(group >> 12) & 63];
    encoded += i + 1 < data.size() ? kAlphabet[(group >> 6) & 63] : '=';
    encoded += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
  }
  for (size_t at = 0; at < encoded.size(); at += kLine) {
    out += indent;
    out.append(encoded, at, kLine);
    out += '\n';
  }
}

// Appends the XML form of `value` at nesting `depth` (its indentation) to `out`. False, with the
// reason in `whyNot`, when the value holds something XML cannot carry.
bool appendXml(const PlistValue& value, int depth, std::string& out, std::string& whyNot) {
  if (depth > kMaxDepth) {
    whyNot = "containers are nested more than " + std::to_string(kMaxDepth) + " deep";
    return false;
  }
  const std::string indent(static_cast<size_t>(depth), '\t');
  out += indent;
  const auto& storage = value.storage();
  if (auto* text = std::get_if<std::string>(&storage)) {
    return appendText("string", *text, out, whyNot);
  }
  if (auto* number = std::get_if<std::int64_t>(&storage)) {
    out += "<integer>" + std::to_string(*number) + "</integer>\n";
    return true;
  }
  if (auto* real = std::get_if<double>(&storage)) {
    out += "<real>";
    if (std::isnan(*real)) {
      out += "nan";
    } else if (std::isinf(*real)) {
      out += *real > 0 ? "+infinity" : "-infinity";
    } else {
      // Seventeen significant digits read back as the same double; to_chars ignores the locale.
      char text[40];
      auto [end, error] =
          std::to_chars(text, text + sizeof text, *real, std::chars_format::general, 17);
      out.append(text, error == std::errc() ? end : text);
    }
    out += "</real>\n";
    return true;
  }
  if (auto* flag = std::get_if<bool>(&storage)) {
    out += *flag ? "<true/>\n" : "<false/>\n";
    return true;
  }
  if (auto* date = std::get_if<Date>(&storage)) {
    std::optional<std::int64_t> second = xmlSecond(*date);
    if (!second) {
      whyNot = "a date is outside the years 1 to 9999, which XML cannot carry";
      return false;
    }
    out += "<date>" + xmlDateText(*second) + "</date>\n";
    return true;
  }
  if (auto* data = std::get_if<PlistData>(&storage)) {
    out += "<data>\n";
    appendBase64(*data, indent, out);
    out += indent + "</data>\n";
    return true;
  }
  if (auto* items = std::get_if<PlistArray>(&storage)) {
    if (items->empty()) {
      out += "<array/>\n";
      return true;
    }
    out += "<array>\n";
    for (const PlistValue& item : *items) {
      if (!appendXml(item, depth + 1, out, whyNot)) return false;
    }
    out += indent + "</array>\n";
    return true;
  }
  const auto& entries = std::get<PlistDictionary>(storage);
  if (entries.empty()) {
    out += "<dict/>\n";
    return true;
  }
  out += "<dict>\n";
  for (const auto& [key, item] : entries) {
    out += indent + '\t';
    if (!appendText("key", key, out, whyNot) || !appendXml(item, depth + 1, out, whyNot)) {
      return false;
    }
  }
  out += indent + "</dict>\n";
  return true;
}

// Copies XML input to `out` with every <date> element replaced by a stand-in (see DateTable) and
// its own date read into `dates`. Comments, CDATA sections and declarations are copied as they
// are. False when the input can't be an XML property list: a NUL character (never allowed in XML)
// or an unterminated <date>.
bool prepareXml(std::string_view bytes, std::string& out, DateTable& dates) {
  if (bytes.find('\0') != std::string_view::npos) return false;
  out.clear();
  out.reserve(bytes.size());
  size_t at = 0;
  auto copyThrough = [&](size_t from, std::string_view end) {
    size_t found = bytes.find(end, from);
    size_t stop = found == std::string_view::npos ? bytes.size() : found + end.size();
    out.append(bytes.substr(at, stop - at));
    at = stop;
  };
  while (at < bytes.size()) {
    size_t open = bytes.find('<', at);
    if (open == std::string_view::npos) {
      out.append(bytes.substr(at));
      break;
    }
    out.append(bytes.substr(at, open - at));
    at = open;
    std::string_view rest = bytes.substr(open);
    if (rest.starts_with("<!--")) {
      copyThrough(open + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      copyThrough(open + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      copyThrough(open + 2, "?>");
    } else if (rest.starts_with("<date") &&
               (rest.size() == 5 || std::strchr(" \t\r\n/>", rest[5]) != nullptr)) {
      size_t tagEnd = bytes.find('>', open);
      if (tagEnd == std::string_view::npos) return false;
      std::optional<Date> date;
      if (bytes[tagEnd - 1] == '/') {
        at = tagEnd + 1;  // <date/>: no date at all
      } else {
        size_t close = bytes.find("</date>", tagEnd);
        if (close == std::string_view::npos) return false;
        std::optional<Date> text = parseXmlDateText(bytes.substr(tagEnd + 1, close - tagEnd - 1));
        if (text) date = keepableDate(text->timeIntervalSince1970);
        at = close + 7;
      }
      if (dates.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
      out += "<date>" +
             xmlDateText(static_cast<std::int64_t>(kReferenceDateOffset) +
                         static_cast<std::int64_t>(dates.size())) +
             "</date>";
      dates.push_back(date);
    } else {
      out += '<';
      ++at;
    }
  }
  return true;
}

// Checks the shape of XML input before the parser sees it: nesting no deeper than kMaxDepth (the
// parser recurses per level) and every element closed (the parser accepts a truncated document).
bool xmlIsBalancedAndBounded(std::string_view bytes) {
  int depth = 0;
  bool sawElement = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '<') continue;
    if (i + 1 >= bytes.size()) return false;
    // Comments and CDATA sections may hold markup-like text of any kind.
    std::string_view end = bytes.substr(i).starts_with("<!--")        ? "-->"
                           : bytes.substr(i).starts_with("<![CDATA[") ? "]]>"
                                                                      : ">";
    size_t close = bytes.find(end, i + 1);
    if (close == std::string_view::npos) return false;
    close += end.size() - 1;
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

// The layout of a binary list, read from its 32-byte trailer; see prepareBinary.
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
//
// Dates are taken out of the library's hands (its date keeps 32-bit seconds, and converts reals of
// any size to them): each date object's real is read into `dates` and replaced in `bytes` by its
// index there (see DateTable). Only 8-byte dates that do not overlap are accepted, and the checks
// above run on the bytes as changed, which are what the library reads.
bool prepareBinary(std::string& buffer, DateTable& dates) {
  std::optional<BinaryLayout> found = binaryLayout(buffer);
  if (!found) return false;
  const BinaryLayout& layout = *found;
  const std::string_view bytes = buffer;
  auto offsetOf = [&](std::uint64_t index) {
    return bigEndian(bytes, layout.table + index * layout.offsetSize, layout.offsetSize);
  };

  // Children of a container object (none for any other kind); false when malformed. Offsets
  // are checked by the dates pass, which runs first.
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

  // Dates: every date object, reachable or not, as the library may read them all.
  std::vector<std::uint64_t> dateOffsets;
  for (std::uint64_t index = 0; index < layout.objects; ++index) {
    std::uint64_t at = offsetOf(index);
    if (at < kBinaryHeader || at >= layout.table) return false;
    if ((static_cast<unsigned char>(buffer[at]) >> 4) != 0x3) continue;
    if (static_cast<unsigned char>(buffer[at]) != 0x33 || at + 9 > layout.table) return false;
    dateOffsets.push_back(at);
  }
  std::sort(dateOffsets.begin(), dateOffsets.end());
  dateOffsets.erase(std::unique(dateOffsets.begin(), dateOffsets.end()), dateOffsets.end());
  for (size_t i = 1; i < dateOffsets.size(); ++i) {
    if (dateOffsets[i] - dateOffsets[i - 1] < 9) return false;
  }
  if (dateOffsets.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  for (std::uint64_t at : dateOffsets) {
    double since2001 = std::bit_cast<double>(bigEndian(bytes, at + 1, 8));
    dates.push_back(keepableDate(since2001 + kReferenceDateOffset));
    std::uint64_t standIn = std::bit_cast<std::uint64_t>(static_cast<double>(dates.size() - 1));
    for (int i = 0; i < 8; ++i) {
      buffer[at + 1 + static_cast<size_t>(i)] = static_cast<char>(standIn >> (56 - 8 * i));
    }
  }

  // Strings next: every object, reachable or not.
  for (std::uint64_t index = 0; index < layout.objects; ++index) {
    std::uint64_t at = offsetOf(index);
    unsigned kind = static_cast<unsigned char>(bytes[at]) >> 4;
    // A stand-in may have written a date marker where another object starts.
    if (kind == 0x3 && !std::binary_search(dateOffsets.begin(), dateOffsets.end(), at)) {
      return false;
    }
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

std::optional<PlistValue> parsePropertyList(std::string_view bytes, size_t* droppedValues) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  DateTable dates;
  std::string prepared;
  if (plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) != 0) {
    prepared.assign(bytes);
    if (!prepareBinary(prepared, dates)) return std::nullopt;
  } else if (!prepareXml(bytes, prepared, dates) || !xmlIsBalancedAndBounded(prepared) ||
             prepared.size() > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  plist_t root = nullptr;
  plist_from_memory(prepared.data(), static_cast<uint32_t>(prepared.size()), &root);
  PlistHandle owner(root);
  PlistValue value;
  size_t dropped = 0;
  if (fromNode(root, 0, dates, dropped, value) != Conversion::ok) return std::nullopt;
  if (droppedValues) *droppedValues = dropped;
  return value;
}

Result<PlistValue> readPropertyListFile(const std::string& path) {
  Result<std::string> bytes = readRegularFile(path, kMaxFileSize);
  if (!bytes) return bytes.error();
  std::optional<PlistValue> value = parsePropertyList(*bytes);
  if (!value) return Error{path + " is not a valid property list"};
  return std::move(*value);
}

Result<std::string> propertyListXml(const PlistValue& value) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  std::string reason;
  if (!appendXml(value, 0, xml, reason)) return Error{std::move(reason)};
  xml += "</plist>\n";
  return xml;
}

Result<void> writeFileAtomically(const std::string& agentPath, std::string_view bytes) {
  const std::string path = platformPath(agentPath);
  std::string folder = deletingLastPathComponent(path);
  std::string temporary = appendingPathComponent(folder.empty() ? "." : folder,
                                                 "." + lastPathComponent(path) + ".XXXXXX");
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.valid()) return Error::fromErrno("mkostemp", "cannot create a file beside " + path);
  // Keep the permissions a plain new file would get.
  const char* failed = nullptr;
  if (::fchmod(fd.get(), 0666 & ~currentUmask()) != 0) {
    failed = "fchmod";
  } else if (!writeAll(fd.get(), bytes)) {
    failed = "write";
  } else if (::fsync(fd.get()) != 0) {
    failed = "fsync";
  }
  int error = errno;
  if (::close(fd.release()) != 0 && !failed) {
    failed = "close";
    error = errno;
  }
  if (!failed && ::rename(temporary.c_str(), path.c_str()) != 0) {
    failed = "rename";
    error = errno;
  }
  if (failed) {
    ::unlink(temporary.c_str());
    return Error::fromErrno(failed, "cannot write " + path, error);
  }
  // Make the rename itself durable.
  FileDescriptor dir(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  return {};
}

Result<void> writePropertyListFile(const std::string& path, const PlistValue& value) {
  Result<std::string> xml = propertyListXml(value);
  if (!xml) return xml.error();
  return writeFileAtomically(path, *xml);
}

}  // namespace foundation
