#include "foundation/PropertyList.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "support/TestHome.h"

using namespace foundation;
using namespace std::string_view_literals;
using testing_support::HomeTest;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

PlistValue sample() {
  return PlistValue(PlistDictionary{
      {"name", "Mendkit \"<&>\" ünïcode"},
      {"count", std::int64_t{42}},
      {"negative", std::int64_t{-5}},
      {"big", std::int64_t{1} << 40},
      {"ratio", 0.5},
      {"yes", true},
      {"no", false},
      {"when", Date{1772753400.0}},
      {"blob", PlistData{0, 1, 2, 255}},
      {"list", PlistArray{"a", std::int64_t{1}, PlistArray{}}},
      {"nested", PlistDictionary{{"empty", PlistDictionary{}}}},
  });
}

std::string binaryForm(const std::string& xml) {
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  std::string out(bytes, length);
  plist_to_bin_free(bytes);
  plist_free(node);
  return out;
}

void appendBigEndian(std::string& out, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
    out += static_cast<char>((value >> shift) & 0xff);
  }
}

// An array object of a binary list whose elements are the objects `refs` (4-byte references).
std::string arrayObject(const std::vector<std::uint32_t>& refs) {
  std::string out = "\xaf\x12";
  appendBigEndian(out, refs.size(), 4);
  for (std::uint32_t ref : refs) appendBigEndian(out, ref, 4);
  return out;
}

// A binary list holding `objects` (already encoded), the first one at the top.
std::string binaryList(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (const std::string& object : objects) {
    offsets.push_back(out.size());
    out += object;
  }
  std::uint64_t table = out.size();
  for (std::uint64_t offset : offsets) appendBigEndian(out, offset, 8);
  out += std::string(6, '\0');
  out += '\x08';  // offset size
  out += '\x04';  // reference size
  appendBigEndian(out, objects.size(), 8);
  appendBigEndian(out, 0, 8);
  appendBigEndian(out, table, 8);
  return out;
}

// A dictionary object of a binary list: `keys[i]` → `values[i]`, both object references.
std::string dictObject(const std::vector<std::uint32_t>& keys,
                       const std::vector<std::uint32_t>& values) {
  std::string out = "\xdf\x12";
  appendBigEndian(out, keys.size(), 4);
  for (std::uint32_t ref : keys) appendBigEndian(out, ref, 4);
  for (std::uint32_t ref : values) appendBigEndian(out, ref, 4);
  return out;
}

std::string asciiObject(const std::string& text) {
  return static_cast<char>(0x50 | text.size()) + text;  // shorter than 15 characters
}

std::string dateObject(double since2001) {
  std::string out = "\x33";
  appendBigEndian(out, std::bit_cast<std::uint64_t>(since2001), 8);
  return out;
}

// A binary list of one dictionary: key → date (seconds since 2001) for each entry.
std::string binaryDates(const std::vector<std::pair<std::string, double>>& entries) {
  std::vector<std::string> objects{""};
  std::vector<std::uint32_t> keys, values;
  for (const auto& [key, since2001] : entries) {
    keys.push_back(static_cast<std::uint32_t>(objects.size()));
    objects.push_back(asciiObject(key));
    values.push_back(static_cast<std::uint32_t>(objects.size()));
    objects.push_back(dateObject(since2001));
  }
  objects[0] = dictObject(keys, values);
  return binaryList(objects);
}

constexpr double kSince1970At2001 = 978307200.0;

// Arrays nested `depth` deep; with `twice`, each level holds the next one two times.
std::string nestedArrays(std::uint32_t depth, bool twice) {
  std::vector<std::string> objects;
  for (std::uint32_t level = 0; level + 1 < depth; ++level) {
    objects.push_back(twice ? arrayObject({level + 1, level + 1}) : arrayObject({level + 1}));
  }
  objects.push_back(arrayObject({}));
  return binaryList(objects);
}

}  // namespace

TEST(PropertyList, EveryTypeSurvivesXmlAndBinary) {
  auto xml = propertyListXml(sample());
  ASSERT_TRUE(xml);
  auto fromXml = parsePropertyList(*xml);
  ASSERT_TRUE(fromXml);
  EXPECT_EQ(*fromXml, sample());
  auto fromBinary = parsePropertyList(binaryForm(*xml));
  ASSERT_TRUE(fromBinary);
  EXPECT_EQ(*fromBinary, sample());
}

TEST(PropertyList, XmlCarriesNativeTypes) {
  auto xml = propertyListXml(sample());
  ASSERT_TRUE(xml);
  EXPECT_NE(xml->find("<key>when</key>\n\t<date>2026-03-05T23:30:00Z</date>"), std::string::npos)
      << *xml;
  EXPECT_NE(xml->find("<key>yes</key>\n\t<true/>"), std::string::npos);
  EXPECT_NE(xml->find("<integer>-5</integer>"), std::string::npos);
}

TEST(PropertyList, BinaryDatesKeepFractions) {
  PlistValue value(PlistDictionary{{"d", Date{1772753400.25}}});
  auto parsed = parsePropertyList(binaryForm(*propertyListXml(value)));
  ASSERT_TRUE(parsed && parsed->objectForKey("d") && parsed->objectForKey("d")->date());
  // XML keeps whole seconds only.
  EXPECT_DOUBLE_EQ(parsed->objectForKey("d")->date()->timeIntervalSince1970, 1772753400.0);
}

TEST(PropertyList, DateOutsideTheFormatsRangeIsNotWritten) {
  auto refused = propertyListXml(PlistValue(PlistDictionary{{"d", Date{1e12}}}));
  ASSERT_FALSE(refused);
  const std::string& whyNot = refused.error().message;
  EXPECT_NE(whyNot.find("date"), std::string::npos) << whyNot;
  EXPECT_FALSE(propertyListXml(PlistValue(Date{std::nan("")})));
}

TEST(PropertyList, DatesOfAnyYearSurviveBothForms) {
  const std::pair<double, const char*> cases[] = {
      {-62135596800.0, "0001-01-01T00:00:00Z"}, {-5364662400.0, "1800-01-01T00:00:00Z"},
      {-1167609600.0, "1933-01-01T00:00:00Z"},  {-2147483649.0, "1901-12-13T20:45:51Z"},
      {2147483648.0, "2038-01-19T03:14:08Z"},   {4107542400.0, "2100-03-01T00:00:00Z"},
      {253402300799.0, "9999-12-31T23:59:59Z"},
  };
  for (const auto& [since1970, text] : cases) {
    PlistValue value(PlistDictionary{{"d", Date{since1970}}});
    auto xml = propertyListXml(value);
    ASSERT_TRUE(xml) << text;
    EXPECT_NE(xml->find(std::string("<date>") + text + "</date>"), std::string::npos) << *xml;
    EXPECT_EQ(parsePropertyList(*xml), value) << text;
    auto binary = parsePropertyList(binaryDates({{"d", since1970 + 0.5 - kSince1970At2001}}));
    ASSERT_TRUE(binary) << text;
    EXPECT_EQ(*binary, PlistValue(PlistDictionary{{"d", Date{since1970 + 0.5}}})) << text;
  }
  // Whole seconds in XML: rounded down before 1970 and 2001 as after them.
  for (double since1970 : {-0.25, 978307199.75, 978307200.75, -3e9 + 0.5}) {
    auto xml = propertyListXml(PlistValue(Date{since1970}));
    ASSERT_TRUE(xml);
    EXPECT_EQ(parsePropertyList(*xml), PlistValue(Date{std::floor(since1970)})) << since1970;
  }
}

TEST(PropertyList, ADateXmlCannotCarryIsLeftOutAndTheRestIsRead) {
  auto binary = parsePropertyList(binaryDates(
      {{"nan", std::nan("")}, {"inf", INFINITY}, {"huge", 1e300}, {"past", -1e12}, {"ok", 0.0}}));
  ASSERT_TRUE(binary);
  EXPECT_EQ(*binary, PlistValue(PlistDictionary{{"ok", Date{kSince1970At2001}}}));
  EXPECT_TRUE(propertyListXml(*binary));

  auto xml = parsePropertyList(
      "<plist><dict><key>a</key><date>12001-01-01T00:00:00Z</date>"
      "<key>b</key><date>2001-02-30T00:00:00Z</date><key>c</key><date/>"
      "<key>d</key><date>soon</date><key>e</key><array><date></date><integer>1</integer></array>"
      "<key>f</key><string><![CDATA[<date>x</date>]]></string>"
      "<key>g</key><date> 2070-05-06T07:08:09Z </date></dict></plist>");
  ASSERT_TRUE(xml);
  EXPECT_EQ(*xml, PlistValue(PlistDictionary{
                      {"e", PlistArray{1}}, {"f", "<date>x</date>"}, {"g", Date{3166585689.0}}}));
}

TEST(PropertyList, ExtremeNumbersAndEmptyDataSurviveXml) {
  const double kReals[] = {1e308,    -1e308,       std::numeric_limits<double>::denorm_min(),
                           INFINITY, -INFINITY,    0.1,
                           -0.0,     123456789.125};
  PlistArray items;
  items.reserve(16);  // no reallocation: GCC 12 misreads moving the variants as uninitialised
  items.emplace_back(std::numeric_limits<std::int64_t>::min());
  items.emplace_back(std::numeric_limits<std::int64_t>::max());
  items.emplace_back(PlistData{});
  items.emplace_back(PlistData(100, 7));
  items.emplace_back("");
  for (double real : kReals) items.emplace_back(real);
  PlistValue value(items);
  auto xml = propertyListXml(value);
  ASSERT_TRUE(xml);
  EXPECT_NE(xml->find("<integer>-9223372036854775808</integer>"), std::string::npos) << *xml;
  EXPECT_NE(xml->find("<real>+infinity</real>"), std::string::npos) << *xml;
  EXPECT_EQ(parsePropertyList(*xml), value) << *xml;

  auto nan = parsePropertyList(*propertyListXml(PlistValue(PlistArray{std::nan("")})));
  ASSERT_TRUE(nan && nan->array() && nan->array()->size() == 1);
  auto* real = std::get_if<double>(&nan->array()->front().storage());
  EXPECT_TRUE(real && std::isnan(*real));
}

TEST(PropertyList, NulCharactersAreRefusedNotCut) {
  auto refused = propertyListXml(PlistValue(std::string("a\0b", 3)));
  ASSERT_FALSE(refused);
  const std::string& whyNot = refused.error().message;
  EXPECT_NE(whyNot.find("NUL"), std::string::npos) << whyNot;
  EXPECT_FALSE(propertyListXml(PlistValue(PlistDictionary{{std::string("k\0ey", 4), 1}})));
  EXPECT_FALSE(parsePropertyList("<plist><string>a\0b</string></plist>"sv));
  EXPECT_FALSE(parsePropertyList("<plist><dict><key>a\0b</key><true/></dict></plist>"sv));
}

TEST(PropertyList, NumberViews) {
  EXPECT_EQ(PlistValue(true).integerValue(), 1);
  EXPECT_EQ(PlistValue(2.9).integerValue(), 2);
  EXPECT_EQ(PlistValue(std::int64_t{0}).boolValue(), false);
  EXPECT_FALSE(PlistValue("7").integerValue());
  EXPECT_EQ(PlistValue("x").objectForKey("k"), nullptr);
}

TEST(PropertyList, MalformedInputReadsAsNothing) {
  std::string xml = *propertyListXml(sample());
  std::string binary = binaryForm(xml);
  EXPECT_FALSE(parsePropertyList(""));
  EXPECT_FALSE(parsePropertyList("not a plist at all"));
  EXPECT_FALSE(parsePropertyList("\xef\xbb\xbf" + xml));  // BOM: not read
  EXPECT_FALSE(parsePropertyList("bplist00"));
  for (size_t cut : {size_t{1}, xml.size() / 3, xml.size() / 2, xml.size() - 10}) {
    EXPECT_FALSE(parsePropertyList(std::string_view(xml).substr(0, cut))) << cut;
  }
  for (size_t cut = 8; cut < binary.size(); cut += 7) {
    parsePropertyList(std::string_view(binary).substr(0, cut));  // must not crash
  }
  std::string deep = "<plist><array>";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  EXPECT_FALSE(parsePropertyList(deep));
}

TEST(PropertyList, BinaryNestingIsBoundedAndCyclesAreRefused) {
  auto shallow = parsePropertyList(nestedArrays(200, false));
  ASSERT_TRUE(shallow) << "ordinary nesting reads";
  int depth = 0;
  for (const PlistValue* level = &*shallow; level->array() && !level->array()->empty();
       level = &level->array()->front()) {
    ++depth;
  }
  EXPECT_EQ(depth, 199);
  EXPECT_TRUE(parsePropertyList(nestedArrays(20, true))) << "shared references read";

  // Each of these would overflow the parser's stack, loop for ever or copy without end.
  EXPECT_FALSE(parsePropertyList(nestedArrays(200000, false)));
  EXPECT_FALSE(parsePropertyList(binaryList({arrayObject({0})})));
  EXPECT_FALSE(parsePropertyList(binaryList({arrayObject({1}), arrayObject({0})})));
  EXPECT_FALSE(parsePropertyList(nestedArrays(64, true)));
  EXPECT_FALSE(parsePropertyList(binaryList({arrayObject({7})})));  // no such object
}

TEST(PropertyList, MutatedInputNeverCrashes) {
  std::string xml = *propertyListXml(sample());
  std::string binary = binaryForm(xml);
  std::mt19937 random(12345);
  int parsed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string input = round % 2 ? xml : binary;
    int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      input[random() % input.size()] = static_cast<char>(random() & 0xff);
    }
    std::optional<PlistValue> value = parsePropertyList(input);
    if (!value) continue;
    ++parsed;
    // Whatever reads can be written, and reads back as the same.
    auto xml = propertyListXml(*value);
    ASSERT_TRUE(xml) << round;
    auto again = parsePropertyList(*xml);
    ASSERT_TRUE(again) << *xml;
    EXPECT_EQ(propertyListXml(*again), xml);
  }
  EXPECT_LT(parsed, 3000);  // most mutations break the list; none may crash
}

TEST_F(HomeTest, AtomicWriteReplacesWholeFilesAndLeavesNoTemporaries) {
  std::string path = sandbox.inHome("p.plist");
  ASSERT_TRUE(writePropertyListFile(path, sample()));
  ASSERT_TRUE(writePropertyListFile(path, PlistValue(PlistDictionary{{"k", "v"}})));
  auto read = readPropertyListFile(path);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, PlistValue(PlistDictionary{{"k", "v"}}));
  int entries = 0;
  for (auto& entry : std::filesystem::directory_iterator(sandbox.home())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(HomeTest, FailedWriteKeepsTheOldFile) {
  std::string folder = sandbox.inHome("store");
  std::filesystem::create_directories(folder);
  std::string path = folder + "/p.plist";
  ASSERT_TRUE(writePropertyListFile(path, PlistValue(PlistDictionary{{"old", true}})));
  EXPECT_FALSE(writePropertyListFile(sandbox.inHome("missing/folder/p.plist"), sample()));
  EXPECT_FALSE(writePropertyListFile(path, PlistValue(PlistDictionary{{"d", Date{-1e12}}})));
  EXPECT_EQ(*readPropertyListFile(path), PlistValue(PlistDictionary{{"old", true}}));
}

TEST_F(HomeTest, UnreadableFilesReadAsNothing) {
  EXPECT_FALSE(readPropertyListFile(sandbox.inHome("absent.plist")));
  EXPECT_FALSE(readPropertyListFile(sandbox.home()));  // a folder
  ASSERT_EQ(mkfifo(sandbox.inHome("fifo.plist").c_str(), 0600), 0);
  EXPECT_FALSE(readPropertyListFile(sandbox.inHome("fifo.plist")));  // and no hang
  writeFile(sandbox.inHome("text.plist"), "\"key\" = \"value\";");
  EXPECT_FALSE(readPropertyListFile(sandbox.inHome("text.plist")));
}
