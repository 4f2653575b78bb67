#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Canvas.h"
#include "TestClasses.h"
#include "appkit/Button.h"
#include "appkit/ButtonCell.h"
#include "appkit/ClassRegistry.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "appkit/TextField.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Clock.h"
#include "foundation/PropertyList.h"

namespace {

using appkit::Button;
using appkit::ButtonCell;
using appkit::Cell;
using appkit::Event;
using appkit::EventType;
using appkit::Point;
using appkit::Rect;
using foundation::PlistArray;
using foundation::PlistDictionary;
using foundation::PlistValue;

// A button cell that records the tracking calls it gets and whether the cell was highlighted then.
class RecordingCell : public ButtonCell {
 public:
  bool startTrackingAt(Point point, appkit::View* view) override {
    calls.push_back("start " + where(point, view));
    return answerStart;
  }
  bool continueTracking(Point last, Point point, appkit::View* view) override {
    calls.push_back("continue " + where(last, view) + ">" + where(point, view) +
                    (isHighlighted() ? " lit" : " dark"));
    return answerContinue;
  }
  void stopTracking(Point last, Point point, appkit::View* view, bool mouseIsUp) override {
    calls.push_back("stop " + where(last, view) + ">" + where(point, view) +
                    (mouseIsUp ? " up" : " ended"));
  }
  void mouseEntered(const Event&) override { calls.push_back("entered"); }
  void mouseExited(const Event&) override { calls.push_back("exited"); }

  std::vector<std::string> calls;
  bool answerStart = true;
  bool answerContinue = true;

 private:
  static std::string where(Point point, appkit::View* view) {
    return (view && view->bounds().contains(point)) ? "in" : "out";
  }
};

Event mouse(EventType type, double x, double y) {
  Event event;
  event.type = type;
  event.locationInWindow = Point{x, y};
  event.clickCount = type == EventType::LeftMouseDragged ? 0 : 1;
  return event;
}

// A button at (10, 10, 100, 30) in a window-sized root view; points are in window coordinates.
struct Fixture {
  appkit::View root{Rect::make(0, 0, 200, 100)};
  Button button{Rect::make(10, 10, 100, 30)};
  RecordingCell cell;
  int actions = 0;
  appkit::Object* sender = nullptr;

  Fixture() {
    root.addSubview(&button);
    button.setCell(&cell);
    button.setAction([this](appkit::Object* from) {
      ++actions;
      sender = from;
    });
  }
  void press(double x, double y) { button.mouseDown(mouse(EventType::LeftMouseDown, x, y)); }
  void drag(double x, double y) { button.mouseDragged(mouse(EventType::LeftMouseDragged, x, y)); }
  void release(double x, double y) { button.mouseUp(mouse(EventType::LeftMouseUp, x, y)); }
};

TEST(ControlTracking, ReleaseInsideSendsOnceAndReleaseOutsideSendsNothing) {
  Fixture f;
  f.press(20, 20);
  EXPECT_TRUE(f.cell.isHighlighted());
  f.drag(300, 20);
  EXPECT_FALSE(f.cell.isHighlighted()) << "not highlighted while the pointer is outside";
  f.drag(30, 25);
  EXPECT_EQ(f.actions, 0) << "nothing is sent before the release";
  f.release(40, 25);
  EXPECT_FALSE(f.cell.isHighlighted());
  EXPECT_FALSE(f.button.isTracking());
  EXPECT_EQ(f.cell.calls, (std::vector<std::string>{"start in", "continue in>out dark",
                                                    "continue out>in lit", "stop in>in up"}));
  EXPECT_EQ(f.actions, 1);
  EXPECT_EQ(f.sender, &f.button);

  f.cell.calls.clear();
  f.press(20, 20);
  f.drag(20, 60);
  f.release(20, 60);
  EXPECT_EQ(f.cell.calls,
            (std::vector<std::string>{"start in", "continue in>out dark", "stop out>out up"}));
  EXPECT_EQ(f.actions, 1) << "a release outside sends nothing";

  // Events outside a tracking (a stray release, a drag after the release) reach no cell.
  f.cell.calls.clear();
  f.drag(20, 20);
  f.release(20, 20);
  EXPECT_TRUE(f.cell.calls.empty());
  EXPECT_EQ(f.actions, 1);
}

TEST(ControlTracking, ACellThatDeclinesEndsTheTrackingWithoutSending) {
  Fixture f;
  f.cell.answerStart = false;
  f.press(20, 20);
  f.drag(25, 20);
  f.release(25, 20);
  EXPECT_EQ(f.cell.calls, (std::vector<std::string>{"start in"}));
  EXPECT_FALSE(f.cell.isHighlighted());
  EXPECT_EQ(f.actions, 0);

  f.cell.calls.clear();
  f.cell.answerStart = true;
  f.cell.answerContinue = false;
  f.press(20, 20);
  f.drag(25, 20);
  f.release(25, 20);
  EXPECT_EQ(f.cell.calls,
            (std::vector<std::string>{"start in", "continue in>in lit", "stop in>in ended"}));
  EXPECT_EQ(f.actions, 0);
}

TEST(ControlTracking, ADisabledControlNeitherTracksNorSends) {
  Fixture f;
  f.button.setEnabled(false);
  f.press(20, 20);
  f.release(20, 20);
  EXPECT_TRUE(f.cell.calls.empty());
  EXPECT_EQ(f.actions, 0);

  // Disabled between press and release: the cell hears that the tracking ended (so that a
  // pressed look is undone) and nothing is sent.
  f.button.setEnabled(true);
  f.press(20, 20);
  f.button.setEnabled(false);
  f.release(20, 20);
  EXPECT_EQ(f.cell.calls, (std::vector<std::string>{"start in", "stop in>in ended"}));
  EXPECT_FALSE(f.cell.isHighlighted());
  EXPECT_EQ(f.actions, 0);
}

TEST(ControlTracking, ASwitchTogglesAndAnnouncesItsValueBeforeTheActionRuns) {
  Fixture f;
  f.cell.setButtonType(ButtonCell::ButtonType::Switch);
  std::vector<std::string> order;
  auto token = f.button.addObserver(
      "value", [&] { order.push_back("value " + std::to_string(f.button.state())); });
  f.button.setAction(
      [&](appkit::Object*) { order.push_back("action " + std::to_string(f.button.state())); });
  for (int click = 0; click < 2; ++click) {
    f.press(20, 20);
    f.release(20, 20);
  }
  f.press(20, 20);
  f.release(20, 90);  // outside: no toggle
  EXPECT_EQ(order, (std::vector<std::string>{"value 1", "action 1", "value 0", "action 0"}));

  // A push button keeps its state and announces nothing.
  order.clear();
  f.cell.setButtonType(ButtonCell::ButtonType::MomentaryPushIn);
  f.press(20, 20);
  f.release(20, 20);
  EXPECT_EQ(order, (std::vector<std::string>{"action 0"}));
}

TEST(ControlTracking, AnObserverThatDestroysTheControlStopsTheActionFromRunning) {
  auto root = std::make_unique<appkit::View>(Rect::make(0, 0, 100, 100));
  auto button = std::make_unique<Button>(Rect::make(0, 0, 50, 20));
  root->addSubview(button.get());
  button->buttonCell()->setButtonType(ButtonCell::ButtonType::Switch);
  int actions = 0;
  button->setAction([&](appkit::Object*) { ++actions; });
  auto token = button->addObserver("value", [&] { button.reset(); });
  button->mouseDown(mouse(EventType::LeftMouseDown, 5, 5));
  button->mouseUp(mouse(EventType::LeftMouseUp, 5, 5));
  EXPECT_EQ(button, nullptr);
  EXPECT_EQ(actions, 0);
}

TEST(ButtonCell, BackgroundColourChangeMarksItsControlForRedrawAtOnce) {
  Button button(Rect::make(0, 0, 80, 24));
  ButtonCell* cell = button.buttonCell();
  ASSERT_NE(cell, nullptr);
  button.setNeedsDisplay(false);
  cell->setBackgroundColor(appkit::Color::redColor());
  EXPECT_TRUE(button.needsDisplay());
  EXPECT_EQ(cell->backgroundColor(), appkit::Color::redColor());

  button.setNeedsDisplay(false);
  cell->setBackgroundColor(std::nullopt);
  EXPECT_TRUE(button.needsDisplay()) << "going back to the plain bezel redraws too";

  // A cell that has left its control redraws nothing of it.
  ButtonCell other;
  button.setCell(&other);
  button.setNeedsDisplay(false);
  cell->setBackgroundColor(appkit::Color::whiteColor());
  EXPECT_FALSE(button.needsDisplay());
}

TEST(ControlCell, TrackingAreaExistsExactlyWhileTheCellShowsItsBorderOnlyWhileInside) {
  Button button(Rect::make(0, 0, 80, 24));
  auto cell = std::make_unique<RecordingCell>();
  // As a layout does: the cell asks for the events before it is given to the control.
  cell->setShowsBorderOnlyWhileMouseInside(true);
  button.setCell(cell.get());
  ASSERT_EQ(button.trackingAreas().size(), 1u);
  const appkit::TrackingArea& area = button.trackingAreas().front();
  EXPECT_TRUE(area.inVisibleRect);
  ASSERT_EQ(area.owner, cell.get());
  // What the window does when the pointer crosses the area.
  Event crossing = mouse(EventType::MouseEntered, 5, 5);
  crossing.trackingAreaId = area.id;
  area.owner->mouseEntered(crossing);
  crossing.type = EventType::MouseExited;
  area.owner->mouseExited(crossing);
  EXPECT_EQ(cell->calls, (std::vector<std::string>{"entered", "exited"}));

  cell->setShowsBorderOnlyWhileMouseInside(false);
  EXPECT_TRUE(button.trackingAreas().empty());
  cell->setShowsBorderOnlyWhileMouseInside(true);
  EXPECT_EQ(button.trackingAreas().size(), 1u);

  // A cell destroyed first (a layout destroys in reverse order) takes its area with it and the
  // button goes back to its own cell.
  cell.reset();
  EXPECT_TRUE(button.trackingAreas().empty());
  EXPECT_EQ(button.cell(), button.buttonCell());
  ASSERT_NE(button.cell(), nullptr);
  button.setTitle("still usable");
  EXPECT_EQ(button.title(), "still usable");

  // A button destroyed first leaves its layout cell without a control view.
  auto survivor = std::make_unique<RecordingCell>();
  {
    Button shortLived;
    shortLived.setCell(survivor.get());
    EXPECT_EQ(survivor->controlView(), &shortLived);
  }
  EXPECT_EQ(survivor->controlView(), nullptr);
  survivor->setBackgroundColor(appkit::Color::redColor());
}

TEST(ControlInWindow, TheWindowsEventsReachTheCellAndAClickSendsOnce) {
  foundation::ManualClock clock;
  foundation::ScopedClock scopedClock{clock};
  appkit::WindowBackend::setSharedForTesting(std::make_unique<appkit::HeadlessBackend>(
      appkit::ScreenDescription{Rect::make(0, 0, 1440, 900), Rect::make(0, 0, 1440, 900), 1}));
  {
    appkit::Window window(Rect::make(0, 0, 200, 100));
    appkit::View content(Rect::make(0, 0, 200, 100));
    Button button(Rect::make(10, 10, 100, 30));
    RecordingCell cell;
    cell.setShowsBorderOnlyWhileMouseInside(true);
    content.addSubview(&button);
    button.setCell(&cell);
    int actions = 0;
    button.setAction([&](appkit::Object*) { ++actions; });
    window.setContentView(&content);
    window.orderFront();
    auto send = [&](EventType type, double x, double y) {
      window.sendEvent(mouse(type, x, y));
      while (appkit::RunLoop::main().runOnce()) {
      }
    };
    send(EventType::MouseMoved, 20, 20);
    send(EventType::LeftMouseDown, 20, 20);
    send(EventType::LeftMouseDragged, 150, 20);
    send(EventType::LeftMouseDragged, 30, 20);
    send(EventType::LeftMouseUp, 30, 20);
    send(EventType::MouseMoved, 150, 80);
    EXPECT_EQ(cell.calls, (std::vector<std::string>{
                              "entered", "start in", "exited", "continue in>out dark", "entered",
                              "continue out>in lit", "stop in>in up", "exited"}));
    EXPECT_EQ(actions, 1);
  }
  appkit::WindowBackend::setSharedForTesting(nullptr);
}

// --- Pixels -------------------------------------------------------------------------------------

// A window-sized image of `width` by `height` points at `scale`, origin at the bottom left.
class Snapshot {
 public:
  Snapshot(int width, int height, double scale)
      : _canvas(width, height, scale, false), _scale(scale) {}

  void draw(appkit::View& view) {
    appkit::GraphicsContext context(_canvas.cairo(), false);
    appkit::GraphicsContext::Scope scope(context);
    view.displayRect(view.bounds(), context, false);
  }

  // Red, green, blue, alpha (premultiplied) at the point (x, y), window coordinates.
  std::array<int, 4> at(double x, double y) const {
    auto p = _canvas.at(int(x * _scale), _canvas.height() - 1 - int(y * _scale));
    return {p.red, p.green, p.blue, p.alpha};
  }

  // Dark opaque pixels in [x0, x1) × [y0, y1) points: ink of black text.
  int darkPixels(double x0, double y0, double x1, double y1) const {
    int count = 0;
    for (double y = y0; y < y1; y += 1 / _scale) {
      for (double x = x0; x < x1; x += 1 / _scale) {
        auto p = at(x, y);
        if (p[3] > 200 && p[0] < 100 && p[1] < 100 && p[2] < 100) ++count;
      }
    }
    return count;
  }

  // Written only when CONTROL_TEST_PNG_DIR names a folder, to look at by hand.
  void keep(const std::string& name) const {
    if (const char* dir = std::getenv("CONTROL_TEST_PNG_DIR")) {
      _canvas.writePng((std::string(dir) + "/" + name + ".png").c_str());
    }
  }

 private:
  testing_support::Canvas _canvas;
  double _scale;
};

TEST(ButtonCellPixels, CheckBoxIsAWhiteBoxWhenOffAndBlueWithAWhiteTickWhenOn) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    appkit::View root(Rect::make(0, 0, 120, 30));
    Button box(Rect::make(4, 4, 110, 22));
    root.addSubview(&box);
    box.setButtonType(ButtonCell::ButtonType::Switch);
    box.setTitle("Never");

    // The box is 14 points at the left, centred: (4..18) × (8..22) in the window.
    Snapshot off(120, 30, scale);
    off.draw(root);
    off.keep("checkbox-off@" + std::to_string(int(scale)));
    EXPECT_EQ(off.at(11, 15), (std::array<int, 4>{255, 255, 255, 255})) << "white inside";
    auto edge = off.at(4.6, 15);
    EXPECT_GT(edge[3], 200);
    EXPECT_LT(edge[0], 220) << "a grey border";
    EXPECT_EQ(off.at(2, 15)[3], 0) << "nothing left of the box";
    EXPECT_GT(off.darkPixels(22, 4, 110, 26), 20) << "the title right of the box";
    EXPECT_EQ(off.darkPixels(4, 4, 19, 26), 0) << "no title over the box";

    box.setState(Cell::On);
    Snapshot on(120, 30, scale);
    on.draw(root);
    on.keep("checkbox-on@" + std::to_string(int(scale)));
    auto fill = on.at(6, 10);
    EXPECT_LT(fill[0], 40);
    EXPECT_GT(fill[2], 220) << "blue fill";
    // The tick's corner lies at 0.43 of the width and 0.30 of the height of the box.
    auto tick = on.at(4.5 + 0.43 * 13, 8.5 + 0.30 * 13);
    EXPECT_GT(tick[0], 200);
    EXPECT_GT(tick[1], 200) << "a white tick";
    EXPECT_GT(on.darkPixels(22, 4, 110, 26), 20);
  }
}

TEST(ButtonCellPixels, AnUnchangedTitleIsLaidOutOnce) {
  appkit::View root(Rect::make(0, 0, 100, 30));
  Button button(Rect::make(0, 0, 100, 30));
  root.addSubview(&button);
  button.setTitle("OK");
  Snapshot snapshot(100, 30, 1);
  snapshot.draw(root);
  snapshot.draw(root);
  snapshot.keep("push-button");
  EXPECT_EQ(button.buttonCell()->titleLayoutCount(), 1u);
  EXPECT_GT(snapshot.darkPixels(30, 5, 70, 25), 10) << "the title in the middle";
  EXPECT_EQ(snapshot.darkPixels(0, 5, 25, 25), 0);
  button.setTitle("Cancel");
  snapshot.draw(root);
  EXPECT_EQ(button.buttonCell()->titleLayoutCount(), 2u);
}

TEST(TextFieldPixels, TextStartsAtTheTopAndKeepsTheFieldsAttributesWhenReadBack) {
  appkit::View root(Rect::make(0, 0, 200, 100));
  appkit::TextField field(Rect::make(0, 0, 200, 100));
  root.addSubview(&field);
  field.setFont(appkit::Font::systemFontOfSize(12));
  field.setTextColor(appkit::Color::blackColor());
  field.setStringValue("A message long enough to wrap onto a second line in the field");
  appkit::AttributedString value = field.attributedStringValue();
  EXPECT_EQ(value.fontAt(0), appkit::Font::systemFontOfSize(12));
  EXPECT_EQ(value.foregroundColorAt(value.length() - 1), appkit::Color::blackColor());

  value.setForegroundColor(appkit::Color::redColor(), appkit::TextRange{0, 1});
  field.setAttributedStringValue(value);
  Snapshot snapshot(200, 100, 2);
  snapshot.draw(root);
  snapshot.keep("text-field");
  EXPECT_GT(snapshot.darkPixels(0, 80, 200, 98), 20) << "the first line at the top";
  EXPECT_GT(snapshot.darkPixels(0, 60, 200, 80), 20) << "the text wrapped onto a second line";
  EXPECT_EQ(snapshot.darkPixels(0, 0, 200, 40), 0) << "nothing at the bottom";

  field.setAttributedStringValue(std::nullopt);
  EXPECT_EQ(field.stringValue(), "");
}

// --- Layout -------------------------------------------------------------------------------------

PlistDictionary object(const char* id, const char* className, PlistDictionary extra = {}) {
  PlistDictionary result{{"id", id}, {"class", className}};
  result.merge(extra);
  return result;
}

TEST(ControlLayout, AButtonTakesItsLayoutCellAndSendsItsAction) {
  PlistDictionary root{
      {"Objects",
       PlistArray{object("box", "NSButton", {{"outlets", PlistDictionary{{"cell", "boxCell"}}}}),
                  object("boxCell", "NSButtonCell",
                         {{"properties", PlistDictionary{{"buttonType", "switch"},
                                                         {"title", "Never show again"},
                                                         {"bezelStyle", 12},
                                                         {"fontSize", 11}}}}),
                  object("label", "NSTextField",
                         {{"properties",
                           PlistDictionary{{"stringValue", "Hello"}, {"alignment", "center"}}}}),
                  object("d", "TestDelegate",
                         {{"properties", PlistDictionary{{"caption", "Do not show again"}}}})}},
      {"Connections",
       PlistArray{
           PlistDictionary{
               {"kind", "action"}, {"source", "box"}, {"target", "d"}, {"selector", "onOk:"}},
           PlistDictionary{{"kind", "binding"},
                           {"source", "box"},
                           {"binding", "title"},
                           {"target", "d"},
                           {"keyPath", "caption"}}}}};
  auto result = appkit::Layout::loadFromValue(PlistValue(root), "controls.layout",
                                              appkit::ClassRegistry::shared());
  ASSERT_TRUE(result) << result.error().message;
  auto* box = dynamic_cast<Button*>(result.value()->objectWithId("box"));
  auto* cell = dynamic_cast<ButtonCell*>(result.value()->objectWithId("boxCell"));
  auto* label = dynamic_cast<appkit::TextField*>(result.value()->objectWithId("label"));
  auto* delegate = dynamic_cast<appkit_tests::TestDelegate*>(result.value()->objectWithId("d"));
  ASSERT_TRUE(box && cell && label && delegate);
  EXPECT_EQ(box->cell(), cell);
  EXPECT_EQ(cell->controlView(), box);
  EXPECT_EQ(cell->bezelStyle(), ButtonCell::BezelStyle::RoundRect);
  EXPECT_EQ(cell->font(), appkit::Font::systemFontOfSize(11));
  EXPECT_EQ(cell->title(), "Do not show again") << "the bound title reaches the layout's cell";
  delegate->setCaption("Nie wieder zeigen");
  EXPECT_EQ(box->title(), "Nie wieder zeigen");
  EXPECT_EQ(label->attributedStringValue().alignment(), appkit::TextAlignment::Center);
  box->setFrame(Rect::make(0, 0, 100, 20));
  box->mouseDown(mouse(EventType::LeftMouseDown, 5, 5));
  box->mouseUp(mouse(EventType::LeftMouseUp, 5, 5));
  EXPECT_EQ(box->state(), Cell::On);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"onOk"}));

  PlistDictionary bad{
      {"Objects", PlistArray{object("b", "NSButton",
                                    {{"properties", PlistDictionary{{"buttonType", "radio"}}}})}}};
  EXPECT_FALSE(appkit::Layout::loadFromValue(PlistValue(bad), "bad.layout",
                                             appkit::ClassRegistry::shared()));
}

}  // namespace
