#include "foundation/StringsTable.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <vector>

#include "support/TestHome.h"

using foundation::parseStringsTable;
using foundation::readStringsTable;
using foundation::StringsTable;
using testing_support::HomeTest;
using testing_support::writeFile;

namespace {

using namespace std::string_literals;

std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
  return out;
}

// A binary property list holding one dictionary (fewer than 15 entries, short keys). A value is
// written as a UTF-16 string when it starts with "u:", as a one-byte integer when it starts with
// "i:", else as an ASCII string.
std::string binaryPlist(const std::vector<std::pair<std::string, std::string>>& entries) {
  auto stringObject = [](const std::string& text) {
    return std::string(1, static_cast<char>(0x50 | text.size())) + text;
  };
  std::vector<std::string> objects;
  std::string dict(1, static_cast<char>(0xD0 | entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) dict += static_cast<char>(1 + i);
  for (size_t i = 0; i < entries.size(); ++i) dict += static_cast<char>(1 + entries.size() + i);
  objects.push_back(dict);
  for (const auto& entry : entries) objects.push_back(stringObject(entry.first));
  for (const auto& [key, value] : entries) {
    if (value.rfind("u:", 0) == 0) {
      std::string units = value.substr(2);  // ASCII, widened
      std::string object(1, static_cast<char>(0x60 | units.size()));
      for (char c : units) object += "\0"s + c;
      objects.push_back(object);
    } else if (value.rfind("i:", 0) == 0) {
      objects.push_back("\x10"s + static_cast<char>(std::stoi(value.substr(2))));
    } else {
      objects.push_back(stringObject(value));
    }
  }
  std::string out = "bplist00";
  std::string offsets;
  for (const std::string& object : objects) {
    offsets += static_cast<char>(out.size());
    out += object;
  }
  size_t tableOffset = out.size();
  out += offsets;
  out += std::string(6, '\0') + "\x01\x01"s;
  out += std::string(7, '\0') + static_cast<char>(objects.size());
  out += std::string(8, '\0');
  out += std::string(7, '\0') + static_cast<char>(tableOffset);
  return out;
}

const char* kXmlTable =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\"><dict>\n"
    "<key>Wont_Update</key><string>won't update</string>\n"
    "<key>Black_Freeze</key><string>écran noir</string>\n"
    "</dict></plist>\n";

bool isValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
    if (length == 0 || byte > 0xF4 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

TEST(StringsTableText, PairsAndTheKeyOnlyForm) {
  auto table = parseStringsTable(
      "\"Wont_Update\" = \"won't update\";\n"
      "\"Black_Freeze\"   =\t\"black\" ;\n"
      "\"Same\";\n"
      "'single' = 'quoted \"inside\"';\n"
      "\"\" = \"empty key\";\n");
  ASSERT_TRUE(table);
  EXPECT_EQ(*table, (StringsTable{{"Wont_Update", "won't update"},
                                  {"Black_Freeze", "black"},
                                  {"Same", "Same"},
                                  {"single", "quoted \"inside\""},
                                  {"", "empty key"}}));
}

TEST(StringsTableText, EmptyAndCommentOnlyFilesAreEmptyTables) {
  EXPECT_EQ(parseStringsTable(""), StringsTable{});
  EXPECT_EQ(parseStringsTable(" \n\t// only a comment"), StringsTable{});
  EXPECT_EQ(parseStringsTable("/* block */\r\n"), StringsTable{});
}

TEST(StringsTableText, LaterEntryForAKeyWins) {
  EXPECT_EQ(parseStringsTable("\"a\" = \"1\"; \"a\" = \"2\";"), (StringsTable{{"a", "2"}}));
}

TEST(StringsTableText, EveryEscape) {
  auto table = parseStringsTable(
      "\"controls\" = \"\\a\\b\\f\\n\\r\\t\\v\";\n"
      "\"quotes\" = \"\\\"\\\\\\'\";\n"
      "\"newline\" = \"one\\\ntwo\";\n"
      "\"other\" = \"\\q\\u0041\\é\";\n"
      "\"octal\" = \"\\101\\0\\1234\\351\";\n"
      "\"hex\" = \"\\U00e9\\U41\\U20AC\\Ux\";\n"
      "\"pair\" = \"\\UD83D\\UDE00\";\n"
      "\"lone\" = \"\\UD83Dz\\UDE00\\UD83D\\U0041\";\n"
      "'single' = 'it\\'s';\n");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->at("controls"), "\a\b\f\n\r\t\v");
  EXPECT_EQ(table->at("quotes"), "\"\\'");
  EXPECT_EQ(table->at("newline"), "one\ntwo");
  EXPECT_EQ(table->at("other"), "qu0041é");  // only an upper-case U starts a code
  EXPECT_EQ(table->at("octal"), "A\0S4é"s);  // at most three digits; \351 is U+00E9
  EXPECT_EQ(table->at("hex"), "éA€\0x"s);    // up to four digits; none gives U+0000
  EXPECT_EQ(table->at("pair"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(table->at("lone"), "\uFFFDz\uFFFD\uFFFDA");
  EXPECT_EQ(table->at("single"), "it's");
}

TEST(StringsTableText, CommentsBetweenTokensButNotInsideStrings) {
  auto table = parseStringsTable(
      "// heading\n"
      "/* a\n block */ \"a\" /* before = */ = // after =\n \"x // y /* z */\" /**/;\n"
      "\"b\" = \"2\"; // trailing");
  ASSERT_TRUE(table);
  EXPECT_EQ(*table, (StringsTable{{"a", "x // y /* z */"}, {"b", "2"}}));
}

TEST(StringsTableText, UnquotedWords) {
  auto table = parseStringsTable("Key_1 = value$/:.-9;\nbare;\npath/to = /usr/bin;");
  ASSERT_TRUE(table);
  EXPECT_EQ(*table,
            (StringsTable{{"Key_1", "value$/:.-9"}, {"bare", "bare"}, {"path/to", "/usr/bin"}}));
}

TEST(StringsTableText, MalformedFilesAreUnreadable) {
  const char* broken[] = {
      "\"a\" = \"b\"",                   // missing ';' at the end
      "\"a\" = \"b\"\n\"c\" = \"d\";",   // missing ';' in the middle
      "\"a\" = \"b;",                    // unterminated string
      "\"a\" = 'b\";",                   // quotes do not match
      "\"a\" = \"b\\",                   // backslash at the very end
      "\"a\" = \"b\"; /* open comment",  // unterminated comment
      "= \"b\";",                        // no key
      "\"a\" = ;",                       // no value
      "\"a\" \"b\";",                    // no '='
      "\"a\" = \"b\" = \"c\";",          // two '='
      "{ \"a\" = \"b\"; }",              // braces are not part of a table
      "a b = c;",                        // unquoted words stop at a space
      "\"a\" = \"b\";;",                 // stray ';'
      "\"a\" = \"b\"; \"c\"",            // dangling key
  };
  for (const char* text : broken) {
    EXPECT_FALSE(parseStringsTable(text)) << text;
  }
}

TEST(StringsTableEncoding, Utf8WithAndWithoutByteOrderMark) {
  StringsTable expected{{"clé", "écran"}};
  EXPECT_EQ(parseStringsTable("\"clé\" = \"écran\";"), expected);
  EXPECT_EQ(parseStringsTable("\xEF\xBB\xBF\"clé\" = \"écran\";"), expected);
  EXPECT_FALSE(parseStringsTable("\"a\" = \"\xC3\";"));          // truncated sequence
  EXPECT_FALSE(parseStringsTable("\"a\" = \"\xC0\xAF\";"));      // overlong
  EXPECT_FALSE(parseStringsTable("\"a\" = \"\xED\xA0\x80\";"));  // encoded surrogate
}

TEST(StringsTableEncoding, Utf16WithByteOrderMarkEitherWay) {
  std::u16string text = u"/* c */ \"clé\" = \"écran \U0001F600\";\n\"n\";";
  StringsTable expected{{"clé", "écran \xF0\x9F\x98\x80"}, {"n", "n"}};
  EXPECT_EQ(parseStringsTable(utf16(text, false)), expected);
  EXPECT_EQ(parseStringsTable(utf16(text, true)), expected);
}

TEST(StringsTableEncoding, InvalidUtf16IsUnreadable) {
  EXPECT_FALSE(parseStringsTable(utf16(u"\"a\";", false) + "x"));  // odd length
  std::u16string loneHigh = u"\"a\" = \"?\";";
  loneHigh[7] = 0xD83D;
  EXPECT_FALSE(parseStringsTable(utf16(loneHigh, false)));
  std::u16string loneLow = loneHigh;
  loneLow[7] = 0xDE00;
  EXPECT_FALSE(parseStringsTable(utf16(loneLow, true)));
  std::u16string highAtEnd = u"\"a\";?";
  highAtEnd[4] = 0xD83D;
  EXPECT_FALSE(parseStringsTable(utf16(highAtEnd, true)));
}

TEST(StringsTablePropertyList, XmlDictionaryOfStrings) {
  StringsTable expected{{"Wont_Update", "won't update"}, {"Black_Freeze", "écran noir"}};
  EXPECT_EQ(parseStringsTable(kXmlTable), expected);
  EXPECT_EQ(parseStringsTable("\xEF\xBB\xBF"s + kXmlTable), expected);
  std::u16string wide =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<plist "
      u"version=\"1.0\"><dict><key>k</key><string>écran</string></dict></plist>";
  EXPECT_EQ(parseStringsTable(utf16(wide, true)), (StringsTable{{"k", "écran"}}));
}

TEST(StringsTablePropertyList, XmlThatIsNotADictionaryOfStrings) {
  EXPECT_FALSE(parseStringsTable(
      "<plist version=\"1.0\"><dict><key>a</key><integer>1</integer></dict></plist>"));
  EXPECT_FALSE(
      parseStringsTable("<plist version=\"1.0\"><array><string>a</string></array></plist>"));
  EXPECT_FALSE(parseStringsTable("<plist version=\"1.0\"><dict><key>a</key>"));
  EXPECT_FALSE(parseStringsTable(
      "<plist version=\"1.0\"><dict><key>a</key><string>\xC3(</string></dict></plist>"));
}

TEST(StringsTablePropertyList, BinaryDictionaryOfStrings) {
  EXPECT_EQ(parseStringsTable(binaryPlist({{"a", "one"}, {"b", "u:two"}})),
            (StringsTable{{"a", "one"}, {"b", "two"}}));
  EXPECT_FALSE(parseStringsTable(binaryPlist({{"a", "one"}, {"n", "i:7"}})));
  EXPECT_FALSE(parseStringsTable(binaryPlist({{"a", "\xFF"}})));  // not UTF-8
  std::string truncated = binaryPlist({{"a", "one"}});
  truncated.resize(truncated.size() - 5);
  EXPECT_FALSE(parseStringsTable(truncated));
}

TEST_F(HomeTest, StringsTableReadsFilesFromDisk) {
  std::string path = sandbox.inHome("en.lproj/localization.strings");
  writeFile(path, utf16(u"\"Wont_Update\" = \"won't update\";", false));
  EXPECT_EQ(readStringsTable(path), (StringsTable{{"Wont_Update", "won't update"}}));
  EXPECT_FALSE(readStringsTable(sandbox.inHome("missing.strings")));
  EXPECT_FALSE(readStringsTable(sandbox.inHome("en.lproj")));  // a folder
  ASSERT_EQ(mkfifo(sandbox.inHome("fifo.strings").c_str(), 0600), 0);
  EXPECT_FALSE(readStringsTable(sandbox.inHome("fifo.strings")));  // and no hang
}

TEST(StringsTableRobustness, LargeInputsParseInOnePass) {
  std::string text;
  const int count = 200000;
  for (int i = 0; i < count; ++i) text += "\"k" + std::to_string(i) + "\" = \"v\\n\\U00e9\";\n";
  auto table = parseStringsTable(text);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->size(), static_cast<size_t>(count));
  EXPECT_EQ(table->at("k199999"), "v\né");
  // Long runs of what could start a comment or an escape stay linear.
  EXPECT_FALSE(parseStringsTable(text + "/*" + std::string(2'000'000, '*')));
  EXPECT_EQ(parseStringsTable("\"a\" = \"" + std::string(2'000'000, '\\') + "\";")->at("a"),
            std::string(1'000'000, '\\'));
}

TEST(StringsTableRobustness, MutatedInputsNeverCrashAndYieldValidUtf8) {
  std::vector<std::string> seeds = {
      "/* c */ \"a\" = \"b\\n\\U00e9\\101\"; 'c' = d; e; // end\n",
      utf16(u"\"clé\" = \"\\UD83D\\UDE00\";", false),
      utf16(u"\"k\" = \"v\";", true),
      kXmlTable,
      binaryPlist({{"a", "one"}, {"b", "u:two"}}),
  };
  const char specials[] = {'"', '\'', '\\',   '/',    '*',    ';',  '=', 'U',
                           '0', '\n', '\xFF', '\xFE', '\xD8', '\0', '<'};
  std::mt19937 random(12345);
  int parsed = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string input = seeds[random() % seeds.size()];
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !input.empty(); ++e) {
      size_t at = random() % input.size();
      switch (random() % 4) {
        case 0:
          input[at] = static_cast<char>(random());
          break;
        case 1:
          input[at] = specials[random() % sizeof specials];
          break;
        case 2:
          input.insert(at, 1, specials[random() % sizeof specials]);
          break;
        default:
          input.resize(at);
          break;
      }
    }
    auto table = parseStringsTable(input);
    if (!table) continue;
    ++parsed;
    for (const auto& [key, value] : *table) {
      ASSERT_TRUE(isValidUtf8(key) && isValidUtf8(value)) << "input #" << round;
    }
  }
  EXPECT_GT(parsed, 100);  // the mutations leave enough readable inputs to check the output
}
