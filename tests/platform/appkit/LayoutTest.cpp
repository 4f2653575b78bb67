#include "appkit/Layout.h"

#include <gtest/gtest.h>

#include <thread>

#include "TestClasses.h"
#include "appkit/ClassRegistry.h"
#include "appkit/UserDefaultsController.h"
#include "dispatch/MainQueue.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "support/TestHome.h"

namespace {

using appkit_tests::TestButton;
using appkit_tests::TestCell;
using appkit_tests::TestDelegate;
using appkit_tests::TestView;
using foundation::PlistArray;
using foundation::PlistDictionary;
using foundation::PlistValue;

// The layout of LAYOUT.md's example, with test classes.
constexpr const char* kLayoutXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Objects</key>
	<array>
		<dict>
			<key>id</key><string>delegate</string>
			<key>class</key><string>TestDelegate</string>
			<key>outlets</key>
			<dict>
				<key>window</key><string>popup</string>
				<key>okButton</key><string>ok</string>
			</dict>
		</dict>
		<dict>
			<key>id</key><string>popup</string>
			<key>class</key><string>TestView</string>
			<key>properties</key>
			<dict>
				<key>title</key><string>Pop-up</string>
				<key>tag</key><integer>7</integer>
			</dict>
			<key>outlets</key>
			<dict><key>next</key><string>ok</string></dict>
		</dict>
		<dict>
			<key>id</key><string>ok</string>
			<key>class</key><string>TestButton</string>
			<key>properties</key>
			<dict><key>title</key><string>OK</string></dict>
		</dict>
	</array>
	<key>Connections</key>
	<array>
		<dict>
			<key>kind</key><string>action</string>
			<key>source</key><string>ok</string>
			<key>target</key><string>delegate</string>
			<key>selector</key><string>onOk:</string>
		</dict>
	</array>
	<key>ApplicationDelegate</key><string>delegate</string>
</dict>
</plist>
)";

class LayoutTest : public testing_support::HomeTest {
 protected:
  void SetUp() override { TestView::awakeOrder.clear(); }
  void TearDown() override { EXPECT_EQ(TestView::live, 0) << "a layout leaked or lost objects"; }
};

TEST_F(LayoutTest, CreatesConnectsAndAwakesEveryObjectOfAFile) {
  std::string path = sandbox.inHome("Main.layout");
  testing_support::writeFile(path, kLayoutXml);
  appkit::LayoutResult result = appkit::Layout::load(path);
  ASSERT_TRUE(result) << result.error().message;
  const appkit::Layout& layout = *result.value();

  auto* delegate = dynamic_cast<TestDelegate*>(layout.objectWithId("delegate"));
  ASSERT_NE(delegate, nullptr);
  EXPECT_EQ(layout.applicationDelegate(), delegate);
  auto* popup = dynamic_cast<TestView*>(layout.objectWithId("popup"));
  auto* ok = dynamic_cast<TestButton*>(layout.objectWithId("ok"));
  ASSERT_NE(popup, nullptr);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(layout.objectWithId("missing"), nullptr);
  EXPECT_EQ(layout.objects().size(), 3u);

  EXPECT_EQ(delegate->window, popup);
  EXPECT_EQ(delegate->okButton, ok);
  EXPECT_EQ(popup->title, "Pop-up");
  EXPECT_EQ(popup->tag, 7);
  EXPECT_EQ(popup->next, ok);  // an outlet of the superclass, on a subclass target
  EXPECT_EQ(ok->title, "OK");  // a property inherited from TestView

  EXPECT_EQ(TestView::awakeOrder, (std::vector<std::string>{"Pop-up/0", "OK/0"}));
  EXPECT_TRUE(delegate->calls.empty()) << "loading must not launch anything";
}

TEST_F(LayoutTest, ActionConnectionCallsTheTargetsMethodWithTheSender) {
  std::string path = sandbox.inHome("Main.layout");
  testing_support::writeFile(path, kLayoutXml);
  appkit::LayoutResult result = appkit::Layout::load(path);
  ASSERT_TRUE(result) << result.error().message;
  auto* delegate = dynamic_cast<TestDelegate*>(result.value()->objectWithId("delegate"));
  auto* ok = dynamic_cast<TestButton*>(result.value()->objectWithId("ok"));
  ASSERT_TRUE(delegate && ok);
  EXPECT_EQ(ok->target, delegate);
  EXPECT_EQ(ok->selector, "onOk:");
  ok->click();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"onOk"}));
  EXPECT_EQ(delegate->lastSender, ok);
}

TEST_F(LayoutTest, ALayoutWithoutDelegateLoads) {
  PlistValue root(PlistDictionary{
      {"Objects", PlistArray{PlistDictionary{{"id", "a"}, {"class", "TestView"}}}}});
  auto result = appkit::Layout::loadFromValue(root, "inline", appkit::ClassRegistry::shared());
  ASSERT_TRUE(result) << result.error().message;
  EXPECT_EQ(result.value()->applicationDelegate(), nullptr);
}

TEST_F(LayoutTest, ReportsAFileThatIsMissingOrNotAPropertyList) {
  auto missing = appkit::Layout::load(sandbox.inHome("none.layout"));
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().message.find("none.layout"), std::string::npos)
      << missing.error().message;

  std::string garbage = sandbox.inHome("garbage.layout");
  testing_support::writeFile(garbage, "<plist><dict><key>Objects</key><array>");
  auto broken = appkit::Layout::load(garbage);
  ASSERT_FALSE(broken);
  EXPECT_NE(broken.error().message.find("not a readable property list"), std::string::npos)
      << broken.error().message;
}

PlistDictionary object(const char* id, const char* className, PlistDictionary extra = {}) {
  PlistDictionary result{{"id", id}, {"class", className}};
  result.merge(extra);
  return result;
}

PlistValue layoutOf(PlistArray objects, PlistDictionary extra = {}) {
  PlistDictionary root{{"Objects", std::move(objects)}};
  root.merge(extra);
  return PlistValue(std::move(root));
}

constexpr const char* kDefaults = "$SharedUserDefaultsController";

PlistDictionary bind(const char* source, const char* binding, const char* target,
                     const char* keyPath) {
  return PlistDictionary{{"kind", "binding"},
                         {"source", source},
                         {"binding", binding},
                         {"target", target},
                         {"keyPath", keyPath}};
}

struct BadLayout {
  const char* what;
  PlistValue root;
  const char* expected;  // a part of the error message
};

TEST_F(LayoutTest, ReportsEachKindOfMalformedLayoutAndDestroysWhatItMade) {
  PlistDictionary action{
      {"kind", "action"}, {"source", "b"}, {"target", "d"}, {"selector", "onOk:"}};
  auto withAction = [&](PlistDictionary changes) {
    PlistDictionary connection = action;
    for (auto& [key, value] : changes) connection[key] = value;
    return connection;
  };
  const PlistArray viewAndDelegate{object("v", "TestView"), object("d", "TestDelegate"),
                                   object("b", "TestButton")};

  std::vector<BadLayout> cases = {
      {"top level not a dictionary", PlistValue(PlistArray{}), "not a dictionary"},
      {"no Objects", PlistValue(PlistDictionary{}), "no Objects array"},
      {"Objects not an array", PlistValue(PlistDictionary{{"Objects", "x"}}), "not an array"},
      {"unknown top-level key", layoutOf({}, {{"Windows", PlistArray{}}}), "unknown key 'Windows'"},
      {"entry not a dictionary", layoutOf({PlistValue("v")}), "Objects[0] is not a dictionary"},
      {"entry without id", layoutOf({PlistDictionary{{"class", "TestView"}}}), "no id string"},
      {"id not a string", layoutOf({PlistDictionary{{"id", 3}, {"class", "TestView"}}}),
       "no id string"},
      {"reserved id", layoutOf({object("$app", "TestView")}), "reserved"},
      {"duplicate id", layoutOf({object("v", "TestView"), object("v", "TestView")}), "used twice"},
      {"no class", layoutOf({PlistDictionary{{"id", "v"}}}), "no class string"},
      {"unknown class", layoutOf({object("v", "TestView"), object("w", "NoSuchView")}),
       "unknown class 'NoSuchView'"},
      {"abstract class", layoutOf({object("t", "AbstractThing")}), "cannot be instantiated"},
      {"unknown entry key", layoutOf({object("v", "TestView", {{"subviews", PlistArray{}}})}),
       "unknown key 'subviews'"},
      {"outlet collection of the wrong class",
       layoutOf({object("v", "TestView",
                        {{"outlets", PlistDictionary{{"subviews", PlistArray{"b", "d"}}}}}),
                 object("b", "TestButton"), object("d", "TestDelegate")}),
       "object 'v' (TestView): outlet 'subviews' cannot hold object 'd' (TestDelegate)"},
      {"outlet collection naming a missing object",
       layoutOf({object("v", "TestView",
                        {{"outlets", PlistDictionary{{"subviews", PlistArray{"x"}}}}})}),
       "object 'v' (TestView): outlet 'subviews' names no object 'x'"},
      {"outlet collection not an array",
       layoutOf({object("v", "TestView", {{"outlets", PlistDictionary{{"subviews", "v"}}}})}),
       "outlet 'subviews' is not an array of ids"},
      {"properties not a dictionary", layoutOf({object("v", "TestView", {{"properties", 1}})}),
       "properties is not a dictionary"},
      {"unknown property",
       layoutOf({object("v", "TestView", {{"properties", PlistDictionary{{"colour", "red"}}}})}),
       "no property 'colour'"},
      {"property of the wrong type",
       layoutOf({object("v", "TestView", {{"properties", PlistDictionary{{"tag", "seven"}}}})}),
       "property 'tag' does not accept"},
      {"unknown outlet",
       layoutOf({object("v", "TestView", {{"outlets", PlistDictionary{{"prev", "v"}}}})}),
       "no outlet 'prev'"},
      {"outlet to a missing object",
       layoutOf({object("v", "TestView", {{"outlets", PlistDictionary{{"next", "gone"}}}})}),
       "names no object 'gone'"},
      {"outlet to an object of the wrong class",
       layoutOf({object("d", "TestDelegate", {{"outlets", PlistDictionary{{"okButton", "v"}}}}),
                 object("v", "TestView")}),
       "cannot hold object 'v' (TestView)"},
      {"outlet value not a string",
       layoutOf({object("v", "TestView", {{"outlets", PlistDictionary{{"next", 1}}}})}),
       "not an id string"},
      {"connections not an array", layoutOf(viewAndDelegate, {{"Connections", "x"}}),
       "Connections is not an array"},
      {"connection without kind",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{PlistDictionary{}}}}),
       "no kind string"},
      {"unknown connection kind",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{withAction({{"kind", "outlet"}})}}}),
       "unknown connection kind 'outlet'"},
      {"binding from a missing source",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{bind("x", "title", "d", "caption")}}}),
       "Connections[0]: no source object 'x'"},
      {"binding of a missing source attribute",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{bind("b", "value", "d", "caption")}}}),
       "binding to a missing key: object 'b' (TestButton) has no attribute 'value'"},
      {"binding to a missing target",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{bind("b", "title", "$App", "x")}}}),
       "object 'b' (TestButton) is bound to no object '$App'"},
      {"binding to a missing target attribute",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{bind("b", "title", "d", "title")}}}),
       "binding to a missing key: object 'd' (TestDelegate) has no attribute 'title'"},
      {"binding to the defaults without values.",
       layoutOf(viewAndDelegate,
                {{"Connections", PlistArray{bind("b", "title", kDefaults, "Caption")}}}),
       "object 'b' (TestButton) is bound to $SharedUserDefaultsController with keyPath 'Caption', "
       "which is not of the form values.<key>"},
      {"binding to the defaults with an empty key",
       layoutOf(viewAndDelegate,
                {{"Connections", PlistArray{bind("b", "title", kDefaults, "values.")}}}),
       "not of the form values.<key>"},
      {"binding without keyPath",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{bind("b", "title", "d", "")}}}),
       "a binding needs source, binding, target and keyPath strings"},
      {"cell refusing its entry",
       layoutOf({object("v", "TestView"),
                 object("c", "TestCell", {{"properties", PlistDictionary{{"state", "on"}}}})}),
       "object 'c' (TestCell): decoding made no object"},
      {"action without selector",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{withAction({{"selector", ""}})}}}),
       "needs source, target and selector"},
      {"action to a missing selector",
       layoutOf(viewAndDelegate,
                {{"Connections", PlistArray{withAction({{"selector", "onNo:"}})}}}),
       "has no action 'onNo:'"},
      {"action from an object that sends none",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{withAction({{"source", "v"}})}}}),
       "sends no actions"},
      {"action from a missing source",
       layoutOf(viewAndDelegate, {{"Connections", PlistArray{withAction({{"source", "x"}})}}}),
       "no source object 'x'"},
      {"delegate id missing", layoutOf(viewAndDelegate, {{"ApplicationDelegate", "nobody"}}),
       "names no object 'nobody'"},
      {"delegate not a delegate", layoutOf(viewAndDelegate, {{"ApplicationDelegate", "v"}}),
       "is not an application delegate"},
      {"delegate not a string", layoutOf(viewAndDelegate, {{"ApplicationDelegate", 1}}),
       "not an id string"},
  };
  for (const auto& bad : cases) {
    auto result =
        appkit::Layout::loadFromValue(bad.root, "bad.layout", appkit::ClassRegistry::shared());
    ASSERT_FALSE(result) << bad.what;
    EXPECT_NE(result.error().message.find(bad.expected), std::string::npos)
        << bad.what << ": got \"" << result.error().message << "\"";
    EXPECT_EQ(result.error().message.rfind("bad.layout: ", 0), 0u)
        << bad.what << ": " << result.error().message;
    EXPECT_EQ(TestView::live, 0) << bad.what;
  }
  EXPECT_TRUE(TestView::awakeOrder.empty()) << "nothing is awoken by a failed load";
}

appkit::LayoutResult loadInline(const PlistValue& root) {
  return appkit::Layout::loadFromValue(root, "inline.layout", appkit::ClassRegistry::shared());
}

// Counts the announcements of `key` on `object` for as long as it lives.
struct Announcements {
  Announcements(appkit::Object& object, std::string key)
      : token(object.addObserver(std::move(key), [this] { ++count; })) {}
  int count = 0;
  appkit::ObservationToken token;
};

TEST_F(LayoutTest, DecodesThenSetsPropertiesAndOutletsInOrderBeforeAwaking) {
  auto result = loadInline(layoutOf(
      {object("v", "TestView",
              {{"properties", PlistDictionary{{"title", "root"}}},
               {"outlets", PlistDictionary{{"subviews", PlistArray{"c", "b", "c"}}}}}),
       object("b", "TestButton", {{"properties", PlistDictionary{{"title", "button"}}}}),
       object("c", "TestCell",
              {{"properties", PlistDictionary{{"state", 2}, {"title", "cell"}, {"tag", 4}}}})}));
  ASSERT_TRUE(result) << result.error().message;
  auto* view = dynamic_cast<TestView*>(result.value()->objectWithId("v"));
  auto* button = dynamic_cast<TestView*>(result.value()->objectWithId("b"));
  auto* cell = dynamic_cast<TestCell*>(result.value()->objectWithId("c"));
  ASSERT_TRUE(view && button && cell);
  // "state" has no setter: the cell decoded it itself; "title" came through its attribute.
  EXPECT_EQ(cell->state, 2);
  EXPECT_EQ(cell->decodedId, "c TestCell");
  EXPECT_EQ(cell->tag, 4);
  EXPECT_EQ(view->subviews, (std::vector<TestView*>{cell, button, cell}));
  EXPECT_EQ(TestView::awakeOrder, (std::vector<std::string>{"root/3", "button/0", "cell/0"}));
}

TEST_F(LayoutTest, BindingBetweenTwoObjectsCopiesEachChangeToTheOtherOnce) {
  auto result = loadInline(layoutOf(
      {object("b", "TestButton", {{"properties", PlistDictionary{{"title", "from layout"}}}}),
       object("d", "TestDelegate", {{"properties", PlistDictionary{{"caption", "delegate's"}}}})},
      {{"Connections", PlistArray{bind("b", "title", "d", "caption")}}}));
  ASSERT_TRUE(result) << result.error().message;
  auto* button = dynamic_cast<TestButton*>(result.value()->objectWithId("b"));
  auto* delegate = dynamic_cast<TestDelegate*>(result.value()->objectWithId("d"));
  ASSERT_TRUE(button && delegate);
  EXPECT_EQ(button->title, "delegate's") << "the source takes the target's value when bound";

  Announcements titles(*button, "title");
  Announcements captions(*delegate, "caption");
  button->userSetsTitle("typed");
  EXPECT_EQ(delegate->caption, "typed");
  delegate->setCaption("flag changed");
  EXPECT_EQ(button->title, "flag changed");
  // One announcement per change on each side: no value bounced back.
  EXPECT_EQ(titles.count, 2);
  EXPECT_EQ(captions.count, 2);
}

TEST_F(LayoutTest, BindingToTheDefaultsFollowsThemAtOnceAndWritesTheUsersChangeToTheFile) {
  foundation::UserDefaults& defaults = foundation::UserDefaults::standard();
  ASSERT_EQ(defaults.path().rfind(sandbox.home(), 0), 0u) << "the defaults must be the test's own";
  defaults.setString("Caption", "stored");
  auto result = loadInline(layoutOf(
      {object("b", "TestButton", {{"properties", PlistDictionary{{"title", "from layout"}}}}),
       object("unset", "TestButton", {{"properties", PlistDictionary{{"title", "from layout"}}}})},
      {{"Connections", PlistArray{bind("b", "title", kDefaults, "values.Caption"),
                                  bind("unset", "title", kDefaults, "values.Missing")}}}));
  ASSERT_TRUE(result) << result.error().message;
  auto* button = dynamic_cast<TestButton*>(result.value()->objectWithId("b"));
  auto* unset = dynamic_cast<TestButton*>(result.value()->objectWithId("unset"));
  ASSERT_TRUE(button && unset);
  EXPECT_EQ(button->title, "stored");
  EXPECT_EQ(unset->title, "from layout") << "an absent default leaves the layout's value";
  EXPECT_FALSE(defaults.objectForKey("Missing")) << "binding alone writes nothing";

  Announcements titles(*button, "title");
  defaults.setString("Caption", "set by code");
  EXPECT_EQ(button->title, "set by code");
  EXPECT_EQ(titles.count, 1);

  button->userSetsTitle("clicked");
  EXPECT_EQ(titles.count, 2) << "the write to the defaults must not echo back";
  auto file = foundation::readPropertyListFile(defaults.path());
  ASSERT_TRUE(file && file->dictionary()) << defaults.path();
  EXPECT_EQ(file->dictionary()->at("Caption"), PlistValue("clicked"));

  // A change on another thread reaches the caption on the main thread, through the main queue.
  std::thread([&] { defaults.setString("Caption", "from a worker"); }).join();
  EXPECT_EQ(button->title, "clicked");
  dispatch::mainQueue().runPending();
  EXPECT_EQ(button->title, "from a worker");
  EXPECT_EQ(titles.count, 3);
}

TEST_F(LayoutTest, DefaultsChangedAfterTheLayoutIsGoneReachNothing) {
  foundation::UserDefaults& defaults = foundation::UserDefaults::standard();
  auto result = loadInline(
      layoutOf({object("b", "TestButton")},
               {{"Connections", PlistArray{bind("b", "title", kDefaults, "values.Caption")}}}));
  ASSERT_TRUE(result) << result.error().message;
  result = foundation::Error{"destroyed"};
  EXPECT_EQ(TestView::live, 0);
  defaults.setString("Caption", "after");  // would call into the freed binding (asan)
  std::thread([&] { defaults.setString("Caption", "after, from a worker"); }).join();
  dispatch::mainQueue().runPending();
}

TEST(ObservationToken, StopsItsObserverAndMayOutliveTheObject) {
  int calls = 0;
  auto view = std::make_unique<TestView>();
  appkit::ObservationToken kept = view->addObserver("title", [&] { ++calls; });
  {
    appkit::ObservationToken dropped = view->addObserver("title", [&] { calls += 100; });
  }
  // An observer that removes a later one during the same announcement.
  appkit::ObservationToken later;
  appkit::ObservationToken remover = view->addObserver("title", [&] { later.reset(); });
  later = view->addObserver("title", [&] { calls += 1000; });
  view->didChangeValueForKey("title");
  view->didChangeValueForKey("tag");
  EXPECT_EQ(calls, 1);
  // An observer that destroys the object: the rest are skipped, nothing freed is touched.
  appkit::ObservationToken destroyer = view->addObserver("tag", [&] { view.reset(); });
  appkit::ObservationToken afterDestroyer = view->addObserver("tag", [&] { calls += 10; });
  view->didChangeValueForKey("tag");
  EXPECT_EQ(view, nullptr);
  EXPECT_EQ(calls, 1);
  kept.reset();  // the object is gone: nothing to remove
}

TEST(ClassRegistry, KeepsTheFirstRegistrationOfAName) {
  appkit::ClassRegistry registry;
  appkit::ClassDescription first;
  first.name = "Thing";
  first.factory = [] { return std::make_unique<TestView>(); };
  appkit::ClassDescription second;
  second.name = "Thing";
  EXPECT_TRUE(registry.registerClass(first));
  EXPECT_FALSE(registry.registerClass(second));
  EXPECT_FALSE(registry.registerClass(appkit::ClassDescription{}));
  ASSERT_NE(registry.find("Thing"), nullptr);
  EXPECT_TRUE(registry.find("Thing")->factory != nullptr);
  EXPECT_EQ(registry.classNames(), (std::vector<std::string>{"Thing"}));
}

TEST(ClassRegistry, SuperclassCycleEndsTheSearch) {
  appkit::ClassRegistry registry;
  appkit::ClassDescription a, b;
  a.name = b.superclass = "A";
  b.name = a.superclass = "B";
  registry.registerClass(a);
  registry.registerClass(b);
  EXPECT_EQ(registry.findOutlet("A", "anything"), nullptr);
  EXPECT_EQ(registry.findProperty("Unregistered", "x"), nullptr);
}

}  // namespace
