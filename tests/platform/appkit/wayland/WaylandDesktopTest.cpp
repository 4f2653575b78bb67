// The built agent's debug pop-up on Wayland compositors run headless: one with the layer shell
// (the pop-up is a layer surface there, at scale 1 and 2, answered with pointer clicks), and one
// without it but with XWayland (the pop-up goes to X11 there).

#include <cairo.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/Deadline.h"
#include "support/LayoutFrame.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

using testing_support::ChildOutput;
using testing_support::eventually;
using testing_support::Subprocess;
using testing_support::VirtualDisplay;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDesktop = 0x2080C0;
constexpr int kWidth = 1440, kHeight = 900;

bool isPanel(std::uint32_t rgb) {
  int red = rgb >> 16 & 0xFF, green = rgb >> 8 & 0xFF, blue = rgb & 0xFF;
  return red > 215 && red == green && green == blue;
}

std::uint32_t rgbAt(cairo_surface_t* image, int x, int y) {
  const unsigned char* row =
      cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
  std::uint32_t value;
  std::memcpy(&value, row + x * 4, sizeof value);
  return value & 0xFFFFFF;
}

struct Image {
  cairo_surface_t* surface;
  explicit Image(const std::string& png)
      : surface(cairo_image_surface_create_from_png(png.c_str())) {}
  ~Image() { cairo_surface_destroy(surface); }
  bool valid() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface); }
  std::uint32_t at(int x, int y) const { return rgbAt(surface, x, y); }
};

// A headless compositor with its own runtime folder, started as `nobody` when the test runs as
// root (the compositors refuse root, or should not have it); the agent and the tools connect to it
// as the test's user.
class HeadlessCompositor : public testing_support::HomeTest {
 protected:
  void TearDown() override {
    _agent.reset();
    _compositor.reset();
    if (!_runtime.empty()) fs::remove_all(_runtime);
  }

  // Makes the compositor's runtime folder (its own, mode 0700), where its files go too; false,
  // with _why, when it cannot.
  bool makeRuntime() {
    char folder[] = "/tmp/mendkit-wayland-XXXXXX";
    if (!mkdtemp(folder)) return fail("no runtime folder");
    _runtime = folder;
    if (geteuid() != 0) return true;
    passwd* nobody = getpwnam("nobody");
    if (!nobody || access("/usr/bin/setpriv", X_OK) != 0)
      return fail("running as root, and cannot start the compositor as nobody");
    _user = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=" + std::to_string(nobody->pw_gid),
             "--clear-groups", "--"};
    if (chown(folder, nobody->pw_uid, nobody->pw_gid) != 0)
      return fail("cannot give the runtime folder to nobody");
    return true;
  }

  // Starts `argv` (the compositor) with `environment` in the runtime folder made before; false,
  // with _why, when it cannot.
  bool start(std::vector<std::string> argv, std::vector<std::string> environment) {
    std::vector<std::string> command = _user;
    command.insert(command.end(), argv.begin(), argv.end());
    environment.push_back("XDG_RUNTIME_DIR=" + _runtime);
    environment.push_back("HOME=" + _runtime);
    _compositor = std::make_unique<Subprocess>(
        command, testing_support::ChildOptions{.environment = environment,
                                               .output = ChildOutput::Interleaved});
    if (!eventually([&] { return fs::exists(_runtime + "/" + socketName()); }, 10))
      return fail("the compositor did not start: " + _compositor->wait(1).out);
    return true;
  }

  bool fail(const std::string& why) {
    _why = why;
    return false;
  }
  virtual std::string socketName() const { return "wayland-1"; }

  std::vector<std::string> clientEnvironment() const {
    return {"XDG_RUNTIME_DIR=" + _runtime, "WAYLAND_DISPLAY=" + socketName()};
  }

  void startAgent(std::vector<std::string> environment) {
    std::vector<std::string> base = clientEnvironment();
    environment.insert(environment.end(), base.begin(), base.end());
    environment.push_back("GDK_SCALE=");
    _agent = std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, "-debug1"},
        testing_support::ChildOptions{.environment = environment,
                                      .output = ChildOutput::Interleaved});
  }

  std::string spool() const {
    return testing_support::readFile(
               sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("");
  }
  bool spoolGets(int event) const {
    const std::string entry = "\"event\":" + std::to_string(event);
    return eventually([&] { return spool().find(entry) != std::string::npos; }, 10);
  }

  std::string _runtime, _why;
  std::vector<std::string> _user;  // what starts a program as the compositor's user
  std::unique_ptr<Subprocess> _compositor, _agent;
};

class Sway : public HeadlessCompositor {
 protected:
  // Starts sway with a 1440×900 output at `scale`, the desktop in its colour; skips when it
  // cannot.
  bool startSway(int scale) {
    if (access("/usr/bin/sway", X_OK) != 0 || access("/usr/bin/grim", X_OK) != 0)
      return fail("sway or grim is not installed");
    if (!makeRuntime()) return false;
    std::string config = _runtime + "/sway.config";
    std::ofstream(config) << "xwayland disable\n"
                          << "output * mode " << kWidth << "x" << kHeight << " scale " << scale
                          << " bg #2080C0 solid_color\n";
    fs::permissions(config, fs::perms::others_read, fs::perm_options::add);
    return start({"/usr/bin/sway", "-c", config},
                 {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
  }

  // The outputs' pixels now (device pixels), kept as NAME.png in MENDKIT_SCREENSHOT_DIR when
  // that is set, for a person to look at; `region` ("X,Y WxH", layout points) takes only that
  // part, faster.
  std::unique_ptr<Image> screenshot(const std::string& name = "", const std::string& region = "") {
    std::string png = sandbox.inHome("shot.png");
    std::vector<std::string> grim = {"/usr/bin/grim", png};
    if (!region.empty()) grim = {"/usr/bin/grim", "-g", region, png};
    auto done = testing_support::runChild(grim, {.environment = clientEnvironment()}, 10);
    if (!done.exited || done.exitStatus != 0) return nullptr;
    if (const char* folder = std::getenv("MENDKIT_SCREENSHOT_DIR"); folder && !name.empty())
      fs::copy_file(png, std::string(folder) + "/" + name + ".png",
                    fs::copy_options::overwrite_existing);
    auto image = std::make_unique<Image>(png);
    return image->valid() ? std::move(image) : nullptr;
  }

  bool awaitScreen(const std::function<bool(const Image&)>& holds, double seconds = 10,
                   const std::string& region = "") {
    return eventually(
        [&] {
          auto shot = screenshot("", region);
          return shot && holds(*shot);
        },
        seconds);
  }

  // Runs a sway command; false when sway refuses it.
  bool swaymsg(const std::string& command) {
    std::string socket;
    for (const auto& entry : fs::directory_iterator(_runtime)) {
      if (entry.path().filename().string().starts_with("sway-ipc.")) socket = entry.path();
    }
    auto done = testing_support::runChild({"/usr/bin/swaymsg", "-s", socket, command}, {}, 10);
    return done.exited && done.exitStatus == 0;
  }

  // Clicks the middle of the layout object `id`, the pop-up resting at the output's top right.
  void click(const std::string& id) {
    auto window = testing_support::layoutFrame(MENDKIT_AGENT_BUNDLE, "popup");
    auto control = testing_support::layoutFrame(MENDKIT_AGENT_BUNDLE, id);
    ASSERT_TRUE(window && control) << "the layout has no frame for " << id;
    const int x = kWidth - int(window->width) + int(control->x + control->width / 2);
    const int y = int(window->height - (control->y + control->height / 2));
    auto done =
        testing_support::runChild({WAYLAND_POINTER_CLICK, std::to_string(x), std::to_string(y),
                                   std::to_string(kWidth), std::to_string(kHeight)},
                                  {.environment = clientEnvironment()}, 10);
    ASSERT_TRUE(done.exited && done.exitStatus == 0) << "no virtual pointer: " << done.err;
  }
};

TEST_F(Sway, ThePopUpSlidesInAtTheTopRightWithTheDesktopInItsCornersUntilTheCompositorGoes) {
  if (!startSway(1)) GTEST_SKIP() << _why;
  startAgent({"DISPLAY="});
  const int left = kWidth - 360;
  bool slid = false;
  ASSERT_TRUE(awaitScreen([&](const Image& shot) {
    bool atRest = isPanel(shot.at(left + 2, 90));
    slid |= !atRest && isPanel(shot.at(kWidth - 4, 90));
    return atRest;
  })) << "no pop-up at the top right";
  EXPECT_TRUE(slid) << "no step of the slide was seen";
  EXPECT_TRUE(_agent->awaitOutput("windows go to the Wayland backend", 1));
  auto shot = screenshot("wayland-scale-1");
  ASSERT_TRUE(shot);
  for (auto [x, y] : {std::pair{left, 0}, {kWidth - 1, 0}, {left, 179}, {kWidth - 1, 179}})
    EXPECT_EQ(shot->at(x, y), kDesktop) << "corner " << x << "," << y;
  EXPECT_EQ(shot->at(left - 1, 90), kDesktop) << "the pop-up is wider than 360 points";
  EXPECT_EQ(shot->at(left + 180, 181), kDesktop) << "the pop-up is taller than 180 points";
  EXPECT_TRUE(isPanel(shot->at(kWidth - 3, 90))) << "the pop-up is not flush with the right edge";
  EXPECT_TRUE(spoolGets(10210)) << "the showing was not counted";

  // A lost compositor ends the agent cleanly.
  _compositor.reset();
  testing_support::ChildResult ended = _agent->wait(10);
  EXPECT_TRUE(ended.exited && ended.exitStatus == 0) << "signal " << ended.signal << "\n"
                                                     << ended.out;
  EXPECT_NE(ended.out.find("connection to the Wayland compositor was lost"), std::string::npos)
      << ended.out;
}

TEST_F(Sway, NoStepOfTheSlideShowsOnTheNeighbouringOutput) {
  if (!startSway(1)) GTEST_SKIP() << _why;
  // A second output, placed by sway to the right of the first.
  ASSERT_TRUE(swaymsg("create_output"));
  ASSERT_TRUE(awaitScreen([](const Image& shot) { return shot.width() > kWidth; }));
  startAgent({"DISPLAY="});
  // The strip across the edge between the two: the first's last 400 points, the second's first.
  int frames = 0, partial = 0, outside = 0;
  EXPECT_TRUE(awaitScreen(
      [&](const Image& shot) {
        ++frames;
        bool atRest = isPanel(shot.at(400 - 358, 90));
        partial += !atRest && isPanel(shot.at(400 - 4, 90));
        for (int y = 0; y < 200; y += 2) {
          for (int x = 400; x < 800; ++x) outside += shot.at(x, y) != kDesktop;
        }
        return atRest;
      },
      10, std::to_string(kWidth - 400) + ",0 800x200"))
      << "no pop-up at the first output's top right";
  EXPECT_GT(partial, 0) << "no step of the slide was seen in " << frames << " frames";
  EXPECT_EQ(outside, 0) << "pixels on the neighbouring output in " << frames << " frames";
}

TEST_F(Sway, AtScaleTwoThePopUpIsTheAgentsOwnDrawingPixelForPixel) {
  if (!startSway(2)) GTEST_SKIP() << _why;
  const std::string snapshots = sandbox.inHome("snapshots");
  fs::create_directories(snapshots);
  startAgent({"DISPLAY=", "PLATFORM_SNAPSHOT_DIR=" + snapshots});
  const std::string snapshot = snapshots + "/1.png";
  ASSERT_TRUE(eventually([&] { return fs::exists(snapshot); }, 10));
  ASSERT_TRUE(awaitScreen([](const Image& shot) { return isPanel(shot.at(kWidth - 716, 180)); }))
      << "no pop-up at rest";
  auto shot = screenshot("wayland-scale-2");
  ASSERT_TRUE(shot);
  Image drawn(snapshot);
  ASSERT_EQ(drawn.width(), 720);
  int differing = 0;
  for (int y = 16; y < 344; ++y) {
    for (int x = 16; x < 704; ++x) differing += shot->at(kWidth - 720 + x, y) != drawn.at(x, y);
  }
  EXPECT_EQ(differing, 0) << "the pop-up is not drawn at scale 2";
  EXPECT_EQ(shot->at(kWidth - 721, 180), kDesktop);
  EXPECT_EQ(shot->at(kWidth - 360, 361), kDesktop);
}

TEST_F(Sway, ClicksOnAcceptAndDismissAreAnswered) {
  const struct {
    const char* button;
    int event;
  } answers[] = {{"accept", 10212}, {"dismiss", 10214}};
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.event);
    if (!startSway(1)) GTEST_SKIP() << _why;
    fs::create_directories(sandbox.inRoot("Applications"));
    startAgent({"DISPLAY="});
    ASSERT_TRUE(awaitScreen([](const Image& shot) { return isPanel(shot.at(kWidth - 358, 90)); }));
    click(answer.button);
    EXPECT_TRUE(spoolGets(answer.event)) << spool();
    EXPECT_TRUE(awaitScreen([](const Image& shot) {
      return shot.at(kWidth - 340, 120) == kDesktop;
    })) << "the pop-up stays after the answer";
    TearDown();
    _runtime.clear();
  }
}

class Weston : public HeadlessCompositor {
 protected:
  std::string socketName() const override { return "wayland-weston"; }
};

TEST_F(Weston, WithoutTheLayerShellThePopUpGoesToX11) {
  if (access("/usr/bin/weston", X_OK) != 0) GTEST_SKIP() << "weston is not installed";
  if (!makeRuntime()) GTEST_SKIP() << _why;
  const std::string log = _runtime + "/weston.log";
  std::vector<std::string> weston = {"/usr/bin/weston", "--backend=headless-backend.so",
                                     "--socket=" + socketName(), "--idle-time=0", "--log=" + log};
  // Weston's XWayland takes display :0 whenever it is free, where the private X servers of the
  // other desktop tests may start at the same moment; a private X server stands in for it (to the
  // agent both are X displays).
  if (!start(weston, {})) GTEST_SKIP() << _why;
  VirtualDisplay standIn;
  if (!standIn.available()) GTEST_SKIP() << standIn.why();
  const std::string display = standIn.name();
  startAgent({"DISPLAY=" + display});
  EXPECT_TRUE(spoolGets(10210)) << "the pop-up was not shown";
  EXPECT_TRUE(_agent->awaitOutput("offers no layer shell", 1) &&
              _agent->awaitOutput("windows go to the X11 backend", 1))
      << _agent->wait(1).out;
}

}  // namespace
