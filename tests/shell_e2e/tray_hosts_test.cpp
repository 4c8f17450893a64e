// The real program in real tray hosts: trayer (an XEmbed tray) and xfce4-panel (a
// StatusNotifierItem host with its own watcher, under openbox), on a light and a dark panel. What
// is checked is what a user sees: the icon stands out from the panel, a click on it opens the
// popover with the page and the next click closes it, a click elsewhere closes it; and the
// program is a window while no host runs and goes to the other kind of host when that comes.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "shell_e2e/quorvel_process.h"

namespace quorvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kScreenWidth = 1280;
constexpr int kPanelHeight = 32;
constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";

// A picture of part of the screen.
using Shot = std::unique_ptr<GdkPixbuf, void (*)(gpointer)>;
Shot shot(int x, int y, int width, int height) {
  return {gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, width, height),
          g_object_unref};
}
const guchar* pixel(const Shot& shot, int x, int y) {
  return gdk_pixbuf_get_pixels(shot.get()) + y * gdk_pixbuf_get_rowstride(shot.get()) +
         x * gdk_pixbuf_get_n_channels(shot.get());
}

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

// Where two pictures of the same area differ visibly (a panel repaints its own background with
// slight changes), width 0 where they do not; `count` is how many pixels differ.
GdkRectangle difference(const Shot& before, const Shot& after, double minimumContrast = 1.5,
                        int* count = nullptr) {
  GdkRectangle box{0, 0, 0, 0};
  for (int y = 0; y < gdk_pixbuf_get_height(before.get()); ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(before.get()); ++x) {
      GdkRectangle point{x, y, 1, 1};
      if (contrast(pixel(before, x, y), pixel(after, x, y)) < minimumContrast) continue;
      if (count) ++*count;
      if (box.width == 0) box = point;
      gdk_rectangle_union(&box, &point, &box);
    }
  }
  return box;
}

// Whether the popover (or the window) is on screen: the 440 × 420 one of the windows titled
// "Quorvel" (the XEmbed icon is one too).
bool popoverVisible() {
  return capture("xdotool search --onlyvisible --name ^Quorvel$ getwindowgeometry %@")
             .find("Geometry: 440x420") != std::string::npos;
}

bool click(int x, int y) {
  return runProgram({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

enum class Host { None, Trayer, Xfce };

using Look = std::pair<Host, bool>;  // dark

// The hosts, one at a time, with the program's HOME; openbox and xfconfd stay from the first
// xfce4-panel to the end of the test. The panel starts light or dark as the row asks.
class TrayHostTest : public QuorvelTest, public ::testing::WithParamInterface<Look> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(QuorvelTest::SetUp());
    const fs::path channel = home_ + "/.config/xfce4/xfconf/xfce-perchannel-xml";
    fs::create_directories(channel);
    std::ofstream(channel / "xfce4-panel.xml") << R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value=")"
                                               << (GetParam().second ? "true" : "false") << R"("/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
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
  }
  void TearDown() override {
    panel_.reset();
    settings_.reset();
    windowManager_.reset();
    QuorvelTest::TearDown();
  }

  // Ends the host that runs and starts `host`; true once it is up.
  bool use(Host host, bool dark) {
    panel_.reset();
    runUntil([] { return !nameOwned(kWatcher); });
    const Env env{{"HOME", home_}, {"XDG_CONFIG_HOME", home_ + "/.config"}};
    if (host == Host::Trayer) {
      panel_ = std::make_unique<Process>(
          std::string("trayer --edge top --align right --widthtype pixel --width 200 --heighttype "
                      "pixel --height 32 --SetDockType true --transparent true --alpha 0 --tint ") +
              (dark ? "0x202020" : "0xeeeeee"),
          env);
      return panel_->running();
    }
    if (host == Host::None) return true;
    if (!windowManager_) {
      windowManager_ = std::make_unique<Process>("openbox", env);
      // Started here rather than by the bus, so that it reads the configuration above.
      std::string arch = capture("gcc -print-multiarch");
      arch.erase(arch.find_last_not_of('\n') + 1);
      settings_ = std::make_unique<Process>("/usr/lib/" + arch + "/xfce4/xfconf/xfconfd", env);
      runUntil([] { return nameOwned("org.xfce.Xfconf"); });
    }
    panel_ = std::make_unique<Process>("xfce4-panel", env);
    return runUntil([] { return nameOwned(kWatcher); }, 30.0);
  }

  std::unique_ptr<Process> windowManager_, settings_, panel_;
};

TEST_P(TrayHostTest, icon_stands_out_clicks_open_and_close_the_popover_and_hosts_hand_over) {
  const auto [host, dark] = GetParam();
  ASSERT_TRUE(use(host, dark));
  // The panel before the program starts, once it is painted on the side asked for up to its end
  // (the bare root window is black: a dark panel is not quite) and has stopped changing.
  Shot before = shot(0, 0, kScreenWidth, kPanelHeight);
  ASSERT_TRUE(runUntil(
      [&] {
        Shot now = shot(0, 0, kScreenWidth, kPanelHeight);
        const double a = luminance(pixel(now, kScreenWidth - 100, 10));
        const double b = luminance(pixel(now, kScreenWidth - 2, 10));
        const bool ready =
            difference(before, now, 1.0001).width == 0 &&
            (dark ? std::min(a, b) > 0.005 && std::max(a, b) < 0.2 : std::min(a, b) > 0.5);
        before = std::move(now);
        return ready;
      },
      15.0));
  // A user of a dark panel without announced colours has a dark theme; the StatusNotifierItem
  // host recolours the icon itself.
  Env env;
  if (host == Host::Trayer && dark) env.emplace_back("GTK_THEME", "Adwaita:dark");
  // Clicks count once the program has built its popover, with the page.
  ASSERT_TRUE(launch("", env));

  // The icon is where the panel changed and stands out from it, once that holds still (a panel
  // may first show the item's place in a shade close to its own).
  GdkRectangle icon{};
  int standingOut = 0;
  ASSERT_TRUE(runUntil(
      [&] {
        standingOut = 0;
        const GdkRectangle box =
            difference(before, shot(0, 0, kScreenWidth, kPanelHeight), 3.0, &standingOut);
        const bool settled = box.width > 8 && box.height > 8 && gdk_rectangle_equal(&box, &icon);
        icon = box;
        return settled;
      },
      20.0))
      << quorvel_->output();
  EXPECT_GE(standingOut, 20);
  EXPECT_GT(difference(before, shot(0, 0, kScreenWidth, kPanelHeight), 4.5).width, 0);

  // The popover opens below the panel, where the screen was empty, and the page paints there.
  const Shot empty = shot(kScreenWidth - 600, kPanelHeight, 600, 440);
  const int x = icon.x + icon.width / 2, y = icon.y + icon.height / 2;
  ASSERT_TRUE(click(x, y));
  EXPECT_TRUE(runUntil([&] {
    return popoverVisible() &&
           difference(empty, shot(kScreenWidth - 600, kPanelHeight, 600, 440)).width > 0;
  }));
  // xfce4-panel draws the icon itself: this program sees the click also as one elsewhere.
  ASSERT_TRUE(click(x, y));
  EXPECT_TRUE(runUntil([] { return !popoverVisible(); }));
  ASSERT_TRUE(click(x, y));
  EXPECT_TRUE(runUntil(popoverVisible));
  // A click elsewhere within half a second of the opening one counts as part of it: the first
  // click may leave the popover open, the next one closes it.
  EXPECT_TRUE(
      runUntil([] { return click(200, 600) && runUntil([] { return !popoverVisible(); }, 1.0); }));

  // Without a tray the program is a window; the other kind of host takes it back to the tray.
  const Host other = host == Host::Xfce ? Host::Trayer : Host::Xfce;
  for (Host next : {Host::None, other}) {
    ASSERT_TRUE(use(next, dark));
    EXPECT_TRUE(runUntil([&] { return popoverVisible() == (next == Host::None); }, 20.0));
  }
  EXPECT_TRUE(quiet(quorvel_->output())) << quorvel_->output();
}

INSTANTIATE_TEST_SUITE_P(Hosts, TrayHostTest,
                         ::testing::Values(Look{Host::Trayer, false}, Look{Host::Trayer, true},
                                           Look{Host::Xfce, false}, Look{Host::Xfce, true}),
                         [](const auto& info) {
                           return std::string(info.param.first == Host::Trayer ? "trayer"
                                                                               : "xfce") +
                                  (info.param.second ? "_dark" : "_light");
                         });

}  // namespace
}  // namespace quorvel::testing
