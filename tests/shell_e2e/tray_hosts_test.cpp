// The real program in real tray hosts: trayer (an XEmbed tray) and xfce4-panel (a
// StatusNotifierItem host with its own watcher, under openbox), each on a light and a dark
// panel. What is checked is what a user sees: the icon stands out from the panel, a left click
// opens the popover, a right click a menu; and the item finds the panel whenever it comes.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"
#include "shell_e2e/quorvel_process.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kScreenWidth = 1280;
constexpr int kPanelHeight = 32;

// How many items the panel's watcher lists, and whether one of them is the process's.
std::pair<int, bool> registeredItems(int pid) {
  const std::string list = capture(
      {"gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher", "--object-path",
       "/StatusNotifierWatcher", "--method", "org.freedesktop.DBus.Properties.Get",
       "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"});
  int count = 0;
  for (size_t at = 0; (at = list.find("StatusNotifierItem-", at)) != std::string::npos; ++at) {
    ++count;
  }
  return {count, list.find("StatusNotifierItem-" + std::to_string(pid) + "-") != std::string::npos};
}

// A picture of part of the screen.
struct Shot {
  GdkPixbuf* pixbuf = nullptr;
  Shot(int x, int y, int w, int h)
      : pixbuf(gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, w, h)) {}
  ~Shot() {
    if (pixbuf) g_object_unref(pixbuf);
  }
  Shot(const Shot&) = delete;
  Shot& operator=(const Shot&) = delete;
  const guchar* at(int x, int y) const {
    return gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
           x * gdk_pixbuf_get_n_channels(pixbuf);
  }
  int width() const { return gdk_pixbuf_get_width(pixbuf); }
  int height() const { return gdk_pixbuf_get_height(pixbuf); }
};

// Relative luminance of an sRGB pixel, as the contrast ratio of WCAG defines it.
double luminance(const guchar* p) {
  auto linear = [](guchar c) {
    const double v = c / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(p[0]) + 0.7152 * linear(p[1]) + 0.0722 * linear(p[2]);
}
double contrast(const guchar* a, const guchar* b) {
  double la = luminance(a), lb = luminance(b);
  if (la < lb) std::swap(la, lb);
  return (la + 0.05) / (lb + 0.05);
}

struct Box {
  int x0 = 1 << 20, y0 = 1 << 20, x1 = -1, y1 = -1;
  bool empty() const { return x1 < x0; }
  int cx() const { return (x0 + x1) / 2; }
  int cy() const { return (y0 + y1) / 2; }
};

// Where two pictures of the same area differ visibly (a panel repaints its own background with
// slight changes).
Box difference(const Shot& before, const Shot& after, double minimumContrast = 1.5) {
  Box box;
  for (int y = 0; y < before.height(); ++y) {
    for (int x = 0; x < before.width(); ++x) {
      if (contrast(before.at(x, y), after.at(x, y)) < minimumContrast) continue;
      box.x0 = std::min(box.x0, x);
      box.y0 = std::min(box.y0, y);
      box.x1 = std::max(box.x1, x);
      box.y1 = std::max(box.y1, y);
    }
  }
  return box;
}

// Whether the popover (or the window), the 440 × 420 one of the windows titled "Quorvel" (the
// XEmbed icon is one too), is on screen.
bool popoverVisible() {
  return quorvelWindowSizes().find("440x420") != std::string::npos;
}

bool click(int x, int y, int button) {
  return runProgram({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click",
                     std::to_string(button)});
}

enum class Host { Trayer, Xfce };
struct Look {
  Host host;
  bool dark;
};
std::string name(const Look& look) {
  return std::string(look.host == Host::Trayer ? "trayer" : "xfce") +
         (look.dark ? "-dark" : "-light");
}

fs::path screenshots() {
  return fs::path(QUORVEL_BINARY_DIR) / "screenshots";
}

// The hosts, shared by the cases: xfce4-panel is slow to start (it waits for a window
// manager), so one runs for the whole suite; trayer starts per case with its colour.
struct Desktop {
  DesktopLock lock;
  fs::path home;
  Env env;
  GPid windowManager = 0, settings = 0, panel = 0;
  bool xfceRunning = false;

  Desktop() {
    char pattern[] = "/tmp/quorvel-trays-XXXXXX";
    home = mkdtemp(pattern);
    const fs::path channel = home / ".config/xfce4/xfconf/xfce-perchannel-xml";
    fs::create_directories(channel);
    std::ofstream(channel / "xfce4-panel.xml") << R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="false"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/><value type="int" value="2"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator"><property name="expand" type="bool" value="true"/><property name="style" type="uint" value="0"/></property>
    <property name="plugin-2" type="string" value="systray"><property name="square-icons" type="bool" value="true"/></property>
  </property>
</channel>
)";
    env = {{"HOME", home.string()}, {"XDG_CONFIG_HOME", (home / ".config").string()}};
  }
  ~Desktop() {
    for (GPid* pid : {&panel, &settings, &windowManager}) stopProcess(*pid);
    fs::remove_all(home);
  }

  bool startXfce() {
    if (windowManager == 0) {
      windowManager = spawnWith({"openbox"}, env);
      // Started here rather than by the bus, so that it reads the configuration above.
      std::string arch = capture({"gcc", "-print-multiarch"});
      arch.erase(arch.find_last_not_of('\n') + 1);
      settings = spawnWith({"/usr/lib/" + arch + "/xfce4/xfconf/xfconfd"}, env);
    }
    stopProcess(panel);
    panel = spawnWith({"xfce4-panel"}, env);
    xfceRunning = true;
    return runUntil([] { return nameOwned("org.kde.StatusNotifierWatcher"); }, 30.0);
  }
  void stopXfce() {
    stopProcess(panel);
    xfceRunning = false;
    runUntil([] { return !nameOwned("org.kde.StatusNotifierWatcher"); }, 10.0);
  }
  bool startTrayer(bool dark) {
    stopProcess(panel);
    xfceRunning = false;
    std::vector<std::string> args{"trayer", "--tint", dark ? "0x202020" : "0xeeeeee"};
    for (const char* word : {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                             "200", "--heighttype", "pixel", "--height", "32", "--SetDockType",
                             "true", "--transparent", "true", "--alpha", "0"}) {
      args.push_back(word);
    }
    panel = spawnWith(args, env);
    return panel != 0;
  }
};

// The panel strip's mean luminance, once it has settled on the side asked for.
bool panelIs(bool dark) {
  return runUntil(
      [&] {
        Shot strip(kScreenWidth - 150, 0, 100, 20);
        double sum = 0;
        for (int y = 0; y < strip.height(); ++y) {
          for (int x = 0; x < strip.width(); ++x) sum += luminance(strip.at(x, y));
        }
        const double mean = sum / (strip.width() * strip.height());
        // The bare root window is black: a dark panel is not quite.
        return dark ? mean > 0.005 && mean < 0.2 : mean > 0.5;
      },
      15.0);
}

class TrayHostTest : public ::testing::TestWithParam<Look> {
 protected:
  static void SetUpTestSuite() {
    startGtk();
    fs::create_directories(screenshots());
  }
  static void TearDownTestSuite() { desktop_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(startGtk());
    if (!desktop_) desktop_ = std::make_unique<Desktop>();
    ASSERT_TRUE(desktop_->lock.held());
    char pattern[] = "/var/tmp/quorvel-tray-home-XXXXXX";  // not /tmp: see quorvel_e2e_test
    home_ = mkdtemp(pattern);
  }
  void TearDown() override {
    quorvel_.reset();
    if (!home_.empty()) fs::remove_all(home_);
  }

  static std::unique_ptr<Desktop> desktop_;
  std::string home_;
  std::unique_ptr<QuorvelProcess> quorvel_;
};
std::unique_ptr<Desktop> TrayHostTest::desktop_;

TEST_P(TrayHostTest, icon_stands_out_from_the_panel_and_opens_the_popover_and_the_menu) {
  const Look look = GetParam();
  if (look.host == Host::Xfce) {
    if (!desktop_->xfceRunning) {
      ASSERT_TRUE(desktop_->startXfce());
    }
    ASSERT_TRUE(runProgram({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels/dark-mode", "-s",
                            look.dark ? "true" : "false"}));
  } else {
    desktop_->stopXfce();
    ASSERT_TRUE(desktop_->startTrayer(look.dark));
  }
  ASSERT_TRUE(panelIs(look.dark));
  // The panel before the program starts, once it has stopped changing.
  auto before = std::make_unique<Shot>(0, 0, kScreenWidth, kPanelHeight);
  ASSERT_TRUE(runUntil([&] {
    auto now = std::make_unique<Shot>(0, 0, kScreenWidth, kPanelHeight);
    const bool still = difference(*before, *now, 1.0001).empty();
    before = std::move(now);
    return still;
  }));

  quorvel_ = std::make_unique<QuorvelProcess>(home_);
  // A user of a dark panel without announced colours has a dark theme; the StatusNotifierItem
  // host recolours the icon itself.
  Env env;
  if (look.host == Host::Trayer && look.dark) env.emplace_back("GTK_THEME", "Adwaita:dark");
  ASSERT_TRUE(quorvel_->start({}, env));

  if (look.host == Host::Xfce) {
    ASSERT_TRUE(runUntil([&] { return registeredItems(quorvel_->pid()).second; }, 20.0));
  }
  // The icon is where the panel changed; it is drawn once the change holds still.
  Box icon;
  ASSERT_TRUE(runUntil(
      [&] {
        Shot now(0, 0, kScreenWidth, kPanelHeight);
        Box box = difference(*before, now);
        const bool settled = box.x1 - box.x0 >= 8 && box.y1 - box.y0 >= 8 && box.x0 == icon.x0 &&
                             box.x1 == icon.x1 && box.y0 == icon.y0 && box.y1 == icon.y1;
        icon = box;
        return settled;
      },
      20.0))
      << quorvel_->output();

  Shot after(0, 0, kScreenWidth, kPanelHeight);
  int standingOut = 0;
  double best = 1.0;
  for (int y = icon.y0; y <= icon.y1; ++y) {
    for (int x = icon.x0; x <= icon.x1; ++x) {
      const double ratio = contrast(after.at(x, y), before->at(x, y));
      best = std::max(best, ratio);
      standingOut += ratio >= 3.0;
    }
  }
  // The icon with a margin of panel around it.
  const fs::path picture = screenshots() / ("tray-" + name(look) + ".png");
  const int left = std::max(0, icon.x0 - 8);
  GdkPixbuf* crop = gdk_pixbuf_new_subpixbuf(
      after.pixbuf, left, 0, std::min(kScreenWidth, icon.x1 + 9) - left, kPanelHeight);
  gdk_pixbuf_save(crop, picture.c_str(), "png", nullptr, nullptr);
  g_object_unref(crop);
  std::cout << "[figure] " << name(look) << ": icon " << icon.x1 - icon.x0 + 1 << "x"
            << icon.y1 - icon.y0 + 1 << " at " << icon.x0 << "," << icon.y0 << ", " << standingOut
            << " pixels with contrast >= 3, best " << best << ", picture " << picture.string()
            << std::endl;
  EXPECT_GE(standingOut, 20);
  EXPECT_GE(best, 4.5);

  ASSERT_TRUE(click(icon.cx(), icon.cy(), 1));
  EXPECT_TRUE(runUntil(popoverVisible, 10.0));
  ASSERT_TRUE(click(icon.cx(), icon.cy(), 1));
  EXPECT_TRUE(runUntil([] { return !popoverVisible(); }, 10.0));

  // The menu opens below the panel, where the screen was empty.
  const int from = std::max(0, icon.cx() - 300);
  Shot empty(from, kPanelHeight, kScreenWidth - from, 300);
  auto menuShown = [&] {
    return !difference(empty, Shot(from, kPanelHeight, kScreenWidth - from, 300)).empty();
  };
  ASSERT_TRUE(click(icon.cx(), icon.cy(), 3));
  EXPECT_TRUE(runUntil(menuShown));
  runProgram({"xdotool", "key", "Escape"});
  EXPECT_TRUE(runUntil([&] { return !menuShown(); }));
  EXPECT_TRUE(quiet(quorvel_->output())) << quorvel_->output();
  if (look.host == Host::Trayer) stopProcess(desktop_->panel);
}

INSTANTIATE_TEST_SUITE_P(Hosts, TrayHostTest,
                         ::testing::Values(Look{Host::Trayer, false}, Look{Host::Trayer, true},
                                           Look{Host::Xfce, false}, Look{Host::Xfce, true}),
                         [](const auto& info) {
                           std::string n = name(info.param);
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

// Started before the panel, the program is a window until it becomes the panel's item once
// the panel's watcher appears; a window again while the panel restarts, then the item again.
TEST_F(TrayHostTest, an_item_started_before_the_panel_joins_it_and_returns_after_a_restart) {
  desktop_->stopXfce();
  quorvel_ = std::make_unique<QuorvelProcess>(home_);
  ASSERT_TRUE(quorvel_->start());
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE("panel start " + std::to_string(start));
    EXPECT_TRUE(runUntil(popoverVisible, 20.0));
    ASSERT_TRUE(desktop_->startXfce());
    EXPECT_TRUE(runUntil([&] { return registeredItems(quorvel_->pid()).second; }, 10.0));
    EXPECT_EQ(registeredItems(quorvel_->pid()).first, 1);
    // ...and only there: the window is gone.
    EXPECT_TRUE(runUntil([] { return !popoverVisible(); }, 5.0));
    if (start == 1) desktop_->stopXfce();
  }
  EXPECT_TRUE(quorvel_->running());
  EXPECT_TRUE(quiet(quorvel_->output())) << quorvel_->output();
}

}  // namespace
}  // namespace quorvel::testing
