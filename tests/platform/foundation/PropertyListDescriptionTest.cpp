#include "foundation/PropertyListDescription.h"

#include <gtest/gtest.h>

using foundation::descriptionOfPropertyList;
using foundation::PlistArray;
using foundation::PlistData;
using foundation::PlistDictionary;
using foundation::PlistValue;

namespace {

TEST(PropertyListDescriptionTest, NestedValuesInTheOldStyleForm) {
  PlistValue job(PlistDictionary{
      {"Label", "com.kelvanoria.Mendkit.agent"},
      {"ProgramArguments", PlistArray{"/usr/bin/open", "-g", "My App.app"}},
      {"RunAtLoad", true},
      {"Limits", PlistDictionary{{"count", 3}, {"ratio", 0.5}}},
      {"Data", PlistData{0x00, 0x1f, 0xa0, 0xff, 0x10}},
      {"Birth", foundation::Date{0}},
  });
  EXPECT_EQ(descriptionOfPropertyList(job),
            "{\n"
            "    Birth = \"1970-01-01 00:00:00 +0000\";\n"
            "    Data = <001fa0ff 10>;\n"
            "    Label = com.kelvanoria.Mendkit.agent;\n"
            "    Limits = {\n"
            "        count = 3;\n"
            "        ratio = 0.5;\n"
            "    };\n"
            "    ProgramArguments = (\n"
            "        /usr/bin/open,\n"
            "        -g,\n"
            "        \"My App.app\"\n"
            "    );\n"
            "    RunAtLoad = 1;\n"
            "}");
}

TEST(PropertyListDescriptionTest, EmptyContainersAndEscapedStrings) {
  EXPECT_EQ(descriptionOfPropertyList(PlistValue(PlistDictionary{})), "{\n}");
  EXPECT_EQ(descriptionOfPropertyList(PlistValue(PlistArray{})), "(\n)");
  EXPECT_EQ(descriptionOfPropertyList(PlistValue("")), "\"\"");
  EXPECT_EQ(descriptionOfPropertyList(PlistValue("say \"hi\"\\\n")), "\"say \\\"hi\\\"\\\\\\n\"");
  EXPECT_EQ(descriptionOfPropertyList(PlistValue(PlistDictionary{{"two words", -5}})),
            "{\n    \"two words\" = -5;\n}");
}

}  // namespace
