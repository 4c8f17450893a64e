// AppDelegate: the one application controller. At launch it builds the tray item and the
// popover, watches clicks elsewhere and grabs F6, and a moment later the page host and the
// context menu; it then answers tray clicks, menu choices, F6 presses and later starts of the
// program for the life of the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/language_options.h"
#include "app/version.h"
#include "platform/app_controller.h"
#include "platform/application.h"
#include "platform/console.h"
#include "platform/global_input.h"
#include "platform/login_item.h"
#include "platform/main_queue.h"
#include "platform/popover.h"
#include "platform/status_item.h"
#include "platform/text_paster.h"
#include "polish/deepseek_polisher.h"
#include "web/page_host.h"

namespace quorvel {

inline constexpr const char* kAboutTitle = "Quorvel";
inline constexpr const char* kAboutMenuTitle = "About Quorvel v" QUORVEL_VERSION;
inline constexpr const char* kAboutBody =
    "Version " QUORVEL_VERSION
    "\n\nVoice to polished text.\nPowered by PocketSphinx Speech Recognition & "
    "DeepSeek.";
inline constexpr int kPopoverWidth = 440;
inline constexpr int kPopoverHeight = 420;
// How long a click elsewhere and a tray activation count as one click on the tray item.
inline constexpr double kSameClickWindowSeconds = 0.5;
// How long after launch the page is set up.
inline constexpr double kPageSetUpDelaySeconds = 0.05;
inline constexpr const char* kPasteMenuTitle = "Paste into Active App";
inline constexpr const char* kPasteConfigKey = "paste_into_active_app";
inline constexpr const char* kCopiedLine = "[Paste] Copied — press Ctrl+V to paste";
inline constexpr const char* kNoTrayLine =
    "[Tray] No system tray found, so Quorvel is shown as a window; after closing it, run "
    "\"quorvel --show\" or start Quorvel again to bring it back";

struct AppDelegateServices {
  std::function<std::shared_ptr<StatusItem>()> makeStatusItem;
  std::function<std::shared_ptr<PageHost>(std::weak_ptr<AppControllerPort>)> makePageHost;
  std::function<std::shared_ptr<Popover>()> makePopover;
  GlobalClickMonitor* clickMonitor;  // none where clicks elsewhere cannot be watched
  GlobalHotKey& hotKey;
  Application& application;
  MainQueue& mainQueue;
  Console& console;
  const DeepSeekPolisher& polisher;
  LoginItem& loginItem;
  TextPaster* paster = nullptr;  // none where nothing can be pasted into other applications
};

class AppDelegate final : public AppControllerPort,
                          public std::enable_shared_from_this<AppDelegate> {
 public:
  explicit AppDelegate(AppDelegateServices services);

  void applicationDidFinishLaunching();
  void registerGlobalHotkey();
  void handleHotkeyAction();
  void showStatusBarBadge(bool recording) override;
  void setStatusToolTip(const std::string& text) override;
  // Builds a fresh menu from the stored language and theme, keeps it and returns it.
  MenuModel buildContextMenu();
  void statusItemClicked();
  // A later start of the program: shows the window of a session without a tray.
  void reopen();
  // Whether a tray host shows the item now; without one, the popover is the program's window.
  void followTrayHost(bool available);
  void togglePopover();
  void showPopover() override;
  void closePopover() override;
  bool isPopoverShown() const override;
  // Pastes a hot-key dictation's result into the application it was dictated in.
  void dictationDelivered(const std::string& text) override;
  void setLanguageAndLocale(const LanguageOption& option);
  void setThemeLight();
  void setThemeDark();
  void saveTheme(const std::string& theme);
  void toggleStartAtLogin();
  void togglePasteIntoActiveApp();
  void showAbout();
  void quitApp();

  const std::shared_ptr<StatusItem>& statusItem() const { return statusItem_; }
  const std::shared_ptr<Popover>& popover() const { return popover_; }
  const std::shared_ptr<PageHost>& webViewController() const { return webViewController_; }
  const std::optional<MenuModel>& contextMenu() const { return contextMenu_; }

 private:
  enum class SameClick { Nothing, ClosedElsewhere, OpenedFromTray };
  void rememberClick(SameClick kind);
  void clickedElsewhere();
  bool pastesIntoActiveApp() const;

  AppDelegateServices services_;
  std::shared_ptr<StatusItem> statusItem_;
  std::shared_ptr<Popover> popover_;
  std::shared_ptr<PageHost> webViewController_;
  std::optional<MenuModel> contextMenu_;
  bool windowed_ = false;
  SameClick sameClick_ = SameClick::Nothing;
  uint64_t sameClickGeneration_ = 0;
  // A dictation whose result goes to the application that had the focus: started with the hot
  // key while the popover was closed (Started), then stopped with the hot key (Stopped).
  enum class HotKeyDictation { Idle, Started, Stopped };
  HotKeyDictation hotKeyDictation_ = HotKeyDictation::Idle;
};

}  // namespace quorvel
