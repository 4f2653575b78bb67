#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Canvas.h"
#include "appkit/AttributedString.h"
#include "appkit/TextLayout.h"

using appkit::AttributedString;
using appkit::Color;
using appkit::Font;
using appkit::Rect;
using appkit::TextAlignment;
using appkit::TextLayout;
using appkit::TextRange;
using testing_support::Canvas;

namespace {

// Where the ink of a canvas lies, in device pixels (row 0 at the top).
struct Ink {
  int redLeft = 1 << 30, redRight = -1;      // columns holding red ink
  int blackLeft = 1 << 30, blackRight = -1;  // columns holding black ink
  int top = 1 << 30, bottom = -1;            // rows holding any ink
  std::vector<int> perRow;                   // inked pixels in each row
};

Ink inkOf(const Canvas& canvas) {
  Ink ink;
  ink.perRow.assign(static_cast<std::size_t>(canvas.height()), 0);
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) {
      Canvas::Pixel p = canvas.at(x, y);
      if (p.alpha < 128) continue;
      ++ink.perRow[static_cast<std::size_t>(y)];
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
      if (p.red > 160 && p.green < 60) {
        ink.redLeft = std::min(ink.redLeft, x);
        ink.redRight = std::max(ink.redRight, x);
      } else if (p.red < 60) {
        ink.blackLeft = std::min(ink.blackLeft, x);
        ink.blackRight = std::max(ink.blackRight, x);
      }
    }
  }
  return ink;
}

}  // namespace

TEST(TextLayout, ShowsChineseJapaneseKoreanGreekAndCyrillicWithoutMissingGlyphs) {
  for (const char* text :
       {"简体中文：设备已连接", "繁體中文：裝置已連線", "日本語：デバイスが接続されました",
        "한국어: 기기가 연결되었습니다", "Ελληνικά", "Кириллица"}) {
    TextLayout layout;
    layout.setText(AttributedString(text, Font::boldSystemFontOfSize(13), Color::blackColor()));
    EXPECT_EQ(layout.unknownGlyphsCount(), 0) << text;
  }
  // The count is real: a private-use character that no font has is counted.
  TextLayout layout;
  layout.setText(AttributedString("a\xF3\xB0\x80\x80"));
  EXPECT_EQ(layout.unknownGlyphsCount(), 1);
}

// Twelve T-shaped Cyrillic letters, two bytes each in UTF-8, the middle four red: the red ink must
// stay within the middle third (UTF-16 ranges mapped to the right bytes), the text must stand at
// the top of the rect and upright (the bar of the T on top) flipped or not, at scale 1 and 2.
TEST(TextLayout, ColouredRangeLandsOnItsCharactersAndTextIsUprightInEveryContext) {
  AttributedString text("ТТТТТТТТТТТТ", Font::systemFontOfSize(20), Color::blackColor());
  text.setForegroundColor(Color::redColor(), TextRange{4, 4});
  for (double scale : {1.0, 2.0}) {
    for (bool flipped : {false, true}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << (flipped ? " flipped" : ""));
      Canvas canvas(240, 80, scale, flipped);
      TextLayout layout;
      layout.setText(text);
      double width = layout.size().width;
      ASSERT_GT(width, 100);
      layout.drawInRect(Rect::make(10, 0, 220, 80));
      Ink ink = inkOf(canvas);

      double thirdLeft = (10 + width / 3) * scale, thirdRight = (10 + width * 2 / 3) * scale;
      ASSERT_GE(ink.redRight, 0) << "no red ink";
      EXPECT_GE(ink.redLeft, thirdLeft - 1);
      EXPECT_LE(ink.redRight, thirdRight + 1);
      EXPECT_LE(ink.redRight - ink.redLeft, (thirdRight - thirdLeft) + 2);
      EXPECT_GE(ink.redRight - ink.redLeft, (thirdRight - thirdLeft) * 0.7);
      EXPECT_LT(ink.blackLeft, thirdLeft);
      EXPECT_GT(ink.blackRight, thirdRight);

      EXPECT_LT(ink.bottom, canvas.height() / 2) << "the text starts at the top of the rect";
      int inkHeight = ink.bottom - ink.top + 1;
      int upperQuarter = 0, lowerQuarter = 0;
      for (int y = ink.top; y < ink.top + inkHeight / 4; ++y) upperQuarter += ink.perRow[y];
      for (int y = ink.bottom - inkHeight / 4 + 1; y <= ink.bottom; ++y) {
        lowerQuarter += ink.perRow[y];
      }
      EXPECT_GT(upperQuarter, 2 * lowerQuarter) << "the bars of the letters are at the top";
    }
  }
}

TEST(TextLayout, AlignsLinesWithinTheRectsWidth) {
  AttributedString text("Right", Font::systemFontOfSize(16), Color::blackColor());
  text.setAlignment(TextAlignment::Right);
  Canvas canvas(200, 30, 2, true);
  TextLayout layout;
  layout.setText(text);
  layout.drawInRect(Rect::make(0, 0, 150, 30));
  Ink ink = inkOf(canvas);
  EXPECT_GT(ink.blackLeft, 150 * 2 / 2) << "the ink is in the right half of the rect";
  EXPECT_LE(ink.blackRight, 150 * 2) << "and clipped to it";
  EXPECT_GE(ink.blackRight, 150 * 2 - 6);
}

TEST(TextLayout, KoreanWrapsBetweenWordsWhileChineseWrapsBetweenCharacters) {
  // Wrapped at the width of "first word, space, two syllables": Korean moves the whole second
  // word down, as its readers expect; Chinese may still break anywhere between characters.
  auto measure = [](const std::string& utf8, std::optional<double> width) {
    TextLayout layout;
    layout.setText(AttributedString(utf8, Font::systemFontOfSize(13), Color::blackColor()));
    layout.setWidth(width);
    return layout.size();
  };
  appkit::Size line = measure("가나다 라마", std::nullopt);
  appkit::Size wrapped = measure("가나다 라마바사", line.width + 1);
  EXPECT_NEAR(wrapped.width, measure("라마바사", std::nullopt).width, 0.5);
  EXPECT_NEAR(wrapped.height, 2 * line.height, 2);

  appkit::Size chinese = measure("你好世 界你好世", measure("你好世 界你", std::nullopt).width + 1);
  EXPECT_NEAR(chinese.width, measure("你好世 界你", std::nullopt).width, 0.5);
}

TEST(TextLayout, RebuildsOnlyWhenTextWidthOrDeviceChange) {
  AttributedString text("Cached text", Font::systemFontOfSize(13), Color::blackColor());
  TextLayout layout;
  layout.setText(text);
  double widthAtScaleTwo;
  {
    Canvas canvas(120, 40, 2, false);
    layout.drawAt({0, 40});
    layout.drawAt({10, 30});
    widthAtScaleTwo = layout.size().width;
    EXPECT_EQ(layout.buildCount(), 1u);

    layout.setText(
        AttributedString("Cached text", Font::systemFontOfSize(13), Color::blackColor()));
    layout.setWidth(std::nullopt);
    layout.drawAt({0, 40});
    EXPECT_EQ(layout.buildCount(), 1u) << "an equal text keeps the layout";

    AttributedString recoloured = text;
    recoloured.setForegroundColor(Color::redColor(), TextRange{0, 6});
    layout.setText(recoloured);
    layout.drawAt({0, 40});
    EXPECT_EQ(layout.buildCount(), 2u) << "a new colour is a new layout";
  }
  Canvas canvas(120, 40, 1, true);
  layout.drawAt({0, 0});
  layout.drawAt({0, 0});
  EXPECT_EQ(layout.buildCount(), 3u) << "one rebuild for the new scale";
  EXPECT_NEAR(layout.size().width, widthAtScaleTwo, 0.05)
      << "sizes in points do not vary with scale";
}

TEST(AttributedString, RangesAreCutAtTheEndAndWidenedToWholeCharacters) {
  AttributedString text(
      "a\xF0\x9F\x98\x80"
      "b");  // a, an emoji (a surrogate pair), b
  ASSERT_EQ(text.length(), 4u);
  Color red = Color::redColor();
  text.setForegroundColor(red, TextRange{2, 100});  // starts inside the pair, runs past the end
  EXPECT_EQ(text.foregroundColorAt(0), std::nullopt);
  EXPECT_EQ(text.foregroundColorAt(1), red);
  EXPECT_EQ(text.foregroundColorAt(3), red);
  EXPECT_EQ(text.foregroundColorAt(4), std::nullopt);

  Font bold = Font::boldSystemFontOfSize(13);
  text.setFont(bold, TextRange{0, 2});  // ends inside the pair
  EXPECT_EQ(text.fontAt(2), bold);
  EXPECT_EQ(text.fontAt(3), std::nullopt);
  std::vector<AttributedString::Run> runs = text.runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].range, (TextRange{1, 2}));
  EXPECT_EQ(runs[1].utf8Begin, 1u);
  EXPECT_EQ(runs[1].utf8End, 5u);

  AttributedString before = text;
  text.setForegroundColor(Color::whiteColor(), TextRange{4, 3});
  text.setFont(bold, TextRange{SIZE_MAX, SIZE_MAX});
  EXPECT_EQ(text, before) << "a range starting at the end changes nothing";
}

TEST(AttributedString, IllFormedUtf8IsRepairedBeforeItReachesTheLayout) {
  // A stray byte, a cut-off sequence, an encoded surrogate and a NUL.
  AttributedString text(
      std::string("a\xFF\xC3"
                  "b\xED\xA0\x80"
                  "c\0d",
                  10));
  EXPECT_EQ(text.string(),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
            "c\xEF\xBF\xBD"
            "d");
  EXPECT_EQ(text.length(), 10u);
  text.setForegroundColor(Color::redColor(), TextRange{9, 1});
  TextLayout layout;
  layout.setText(text);
  EXPECT_EQ(layout.unknownGlyphsCount(), 0);
  EXPECT_GT(layout.size().width, 0);
}
