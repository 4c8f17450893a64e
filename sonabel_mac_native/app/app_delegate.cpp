#include "app/app_delegate.h"

#include <utility>

#include "speech/audio_engine.h"
#include "web/page_calls.h"

namespace quorvel {

namespace {

MenuItem actionItem(std::string title, bool checked, std::function<void()> action,
                    std::string accelerator = {}) {
  MenuItem item;
  item.title = std::move(title);
  item.checked = checked;
  item.action = std::move(action);
  item.accelerator = std::move(accelerator);
  return item;
}

MenuItem submenuItem(std::string title) {
  MenuItem item;
  item.kind = MenuItem::Kind::Submenu;
  item.title = std::move(title);
  return item;
}

MenuItem separatorItem() {
  MenuItem item;
  item.kind = MenuItem::Kind::Separator;
  return item;
}

}  // namespace

AppDelegate::AppDelegate(AppDelegateServices services) : services_(std::move(services)) {}

void AppDelegate::applicationDidFinishLaunching() {
  std::weak_ptr<AppDelegate> self = weak_from_this();

  statusItem_ = services_.makeStatusItem();
  if (statusItem_) {
    statusItem_->setImage(StatusImage::MenuBarIcon);
    statusItem_->setActivateHandler([self](ScreenPoint) {
      if (auto strong = self.lock()) strong->statusItemClicked();
    });
    // The host asks for the menu on every right click, so the check marks are always current.
    statusItem_->setMenuProvider([self]() -> MenuModel {
      auto strong = self.lock();
      return strong ? strong->buildContextMenu() : MenuModel{};
    });
  }

  popover_ = services_.makePopover();
  popover_->setContentSize(kPopoverWidth, kPopoverHeight);
  bool watching = services_.clickMonitor && services_.clickMonitor->install([self] {
    if (auto strong = self.lock()) strong->clickedElsewhere();
  });
  popover_->setClosesOnFocusLoss(!watching);
  // Where focus loss closes it, a click on the tray item takes the focus first, too.
  if (!watching) {
    popover_->setFocusLossHandler([self] {
      if (auto strong = self.lock()) strong->rememberClick(SameClick::ClosedElsewhere);
    });
  }
  // Where no tray can show the item, the popover is the program's window, open from the start,
  // until a tray appears; and again whenever the tray goes.
  if (statusItem_) {
    statusItem_->setHostAvailabilityHandler([self](bool available) {
      if (auto strong = self.lock()) strong->followTrayHost(available);
    });
  } else {
    followTrayHost(false);
  }
  registerGlobalHotkey();

  // Setting up the page holds the main loop for a while (the web processes start): a moment
  // later, so that the tray item reaches the panel (its registration takes a few round trips
  // through the main loop) or the window maps first. Still long before anyone clicks, so that
  // F6 and the language menu find the recording controller from the start.
  services_.mainQueue.asyncAfter(kPageSetUpDelaySeconds, [self] {
    auto strong = self.lock();
    if (!strong) return;
    strong->webViewController_ = strong->services_.makePageHost(self);
    strong->webViewController_->loadView();
    strong->popover_->setContent(strong->webViewController_->webView());
    strong->buildContextMenu();
  });
}

void AppDelegate::registerGlobalHotkey() {
  std::weak_ptr<AppDelegate> self = weak_from_this();
  MainQueue& queue = services_.mainQueue;
  Console& console = services_.console;
  services_.hotKey.requestHotKey(
      "F6",
      [self, &queue] {
        queue.async([self] {
          if (auto strong = self.lock()) strong->handleHotkeyAction();
        });
      },
      [&console](int status) {
        if (status == 0) {
          console.line("[Hotkey] F6 global hotkey registered");
        } else {
          console.line("[Hotkey] Failed to register F6 hotkey: " + std::to_string(status));
        }
      });
}

void AppDelegate::handleHotkeyAction() {
  if (!webViewController_ || !webViewController_->hasRecorder()) return;
  const bool popoverWasShown = isPopoverShown();
  if (webViewController_->isRecording()) {
    if (hotKeyDictation_ == HotKeyDictation::Started) hotKeyDictation_ = HotKeyDictation::Stopped;
  } else {
    // The window to paste into is the one that has the focus before the popover takes it.
    const bool intoActiveApp = !popoverWasShown && services_.paster && pastesIntoActiveApp() &&
                               services_.paster->noteFocus();
    hotKeyDictation_ = intoActiveApp ? HotKeyDictation::Started : HotKeyDictation::Idle;
  }
  if (!popoverWasShown) showPopover();
  // Only the toggle: the page decides whether it starts or stops anything, and the recording
  // controller shows the badge once capture has really started and takes it away at delivery.
  webViewController_->toggleRecordingFromHotkey();
}

void AppDelegate::showStatusBarBadge(bool recording) {
  // The window, where there is no tray, shows it too.
  if (popover_) popover_->setRecordingBadge(recording);
  if (!statusItem_) return;
  statusItem_->setImage(recording ? StatusImage::RecordingBadge : StatusImage::MenuBarIcon);
}

void AppDelegate::setStatusToolTip(const std::string& text) {
  if (statusItem_) statusItem_->setToolTip(text);
}

MenuModel AppDelegate::buildContextMenu() {
  std::weak_ptr<AppDelegate> self = weak_from_this();
  auto act = [self](void (AppDelegate::*method)()) {
    return [self, method] {
      if (auto strong = self.lock()) (strong.get()->*method)();
    };
  };

  MenuItem language = submenuItem("Language");
  std::string stored = webViewController_ ? webViewController_->storedSpeechLocale() : "en-US";
  for (const auto& option : languageOptions()) {
    language.submenu.push_back(actionItem(option.title, option.locale == stored, [self, option] {
      if (auto strong = self.lock()) strong->setLanguageAndLocale(option);
    }));
  }

  const std::string theme = storedTheme(services_.polisher);
  MenuItem themes = submenuItem("Theme");
  themes.submenu.push_back(actionItem("Light", theme == "light", act(&AppDelegate::setThemeLight)));
  themes.submenu.push_back(actionItem("Dark", theme == "dark", act(&AppDelegate::setThemeDark)));

  MenuModel menu;
  menu.push_back(std::move(language));
  menu.push_back(std::move(themes));
  MenuItem login = actionItem("Start at Login", services_.loginItem.isEnabled(),
                              act(&AppDelegate::toggleStartAtLogin));
  login.checkable = true;
  menu.push_back(std::move(login));
  MenuItem paste = actionItem(kPasteMenuTitle, pastesIntoActiveApp(),
                              act(&AppDelegate::togglePasteIntoActiveApp));
  paste.checkable = true;
  menu.push_back(std::move(paste));
  menu.push_back(separatorItem());
  menu.push_back(actionItem(kAboutMenuTitle, false, act(&AppDelegate::showAbout)));
  menu.push_back(separatorItem());
  menu.push_back(actionItem("Quit Quorvel", false, act(&AppDelegate::quitApp), "<Control>q"));
  contextMenu_ = menu;
  return menu;
}

void AppDelegate::followTrayHost(bool available) {
  if (windowed_ == !available) return;
  windowed_ = !available;
  // One way in at a time: the window, or the tray item with its popover (hidden until clicked).
  popover_->close();
  popover_->useAsWindow(windowed_);
  services_.application.setWindowed(windowed_);
  if (windowed_) {
    showPopover();
    services_.console.line(kNoTrayLine);
  }
}

void AppDelegate::rememberClick(SameClick kind) {
  // The panel that draws the tray item is another program, so one click on the item reaches
  // this program twice: as a click elsewhere (the outside-click monitor sees the press; or the
  // focus goes to the panel), and as the item's activation. Which comes first varies with the
  // panel and the moment. The second of the two must not undo what the first has done.
  uint64_t generation = ++sameClickGeneration_;
  sameClick_ = kind;
  std::weak_ptr<AppDelegate> self = weak_from_this();
  services_.mainQueue.asyncAfter(kSameClickWindowSeconds, [self, generation] {
    auto strong = self.lock();
    if (strong && strong->sameClickGeneration_ == generation) {
      strong->sameClick_ = SameClick::Nothing;
    }
  });
}

void AppDelegate::clickedElsewhere() {
  if (windowed_ || !isPopoverShown()) return;
  if (sameClick_ == SameClick::OpenedFromTray) {
    sameClick_ = SameClick::Nothing;
    return;
  }
  popover_->close();
  rememberClick(SameClick::ClosedElsewhere);
}

void AppDelegate::statusItemClicked() {
  if (sameClick_ == SameClick::ClosedElsewhere) {
    sameClick_ = SameClick::Nothing;
    return;
  }
  togglePopover();
  if (isPopoverShown()) rememberClick(SameClick::OpenedFromTray);
}

void AppDelegate::reopen() {
  if (windowed_) showPopover();
}

void AppDelegate::togglePopover() {
  if (!popover_) return;
  if (isPopoverShown()) {
    popover_->close();
  } else {
    showPopover();
  }
}

void AppDelegate::showPopover() {
  if (!popover_ || popover_->isShown()) return;
  // The page is built once, at launch: its usage figures are brought up to date on every show.
  if (webViewController_) webViewController_->refreshUsage();
  popover_->show(statusItem_ && !windowed_ ? statusItem_->anchor() : std::nullopt);
}

void AppDelegate::closePopover() {
  if (popover_) popover_->close();
}

bool AppDelegate::isPopoverShown() const {
  return popover_ && popover_->isShown();
}

void AppDelegate::setLanguageAndLocale(const LanguageOption& option) {
  if (!webViewController_) {
    AudioEngine::saveSpeechLocale(services_.polisher, option.locale);
    return;
  }
  webViewController_->setSpeechLocale(option.locale);
  auto view = webViewController_->webView();
  if (option.uiLang && view) view->evaluate(page::setLanguage(*option.uiLang));
}

void AppDelegate::setThemeLight() {
  saveTheme("light");
  if (webViewController_) webViewController_->applyTheme("light");
}

void AppDelegate::setThemeDark() {
  saveTheme("dark");
  if (webViewController_) webViewController_->applyTheme("dark");
}

void AppDelegate::saveTheme(const std::string& theme) {
  services_.polisher.updateConfig("theme", theme);
}

void AppDelegate::toggleStartAtLogin() {
  // The stored state decides, not the row's check mark: the row may be older than a change
  // made outside the program.
  bool enable = !services_.loginItem.isEnabled();
  if (!services_.loginItem.setEnabled(enable)) {
    services_.console.line(enable ? "[Quorvel] Could not set Quorvel to start at login"
                                  : "[Quorvel] Could not stop Quorvel from starting at login");
  }
}

bool AppDelegate::pastesIntoActiveApp() const {
  auto config = services_.polisher.readConfig();
  auto found = config.find(kPasteConfigKey);
  return found != config.end() && found->is_boolean() && found->get<bool>();
}

void AppDelegate::togglePasteIntoActiveApp() {
  services_.polisher.updateConfig(kPasteConfigKey, !pastesIntoActiveApp());
}

void AppDelegate::dictationDelivered(const std::string& text) {
  const bool fromHotKey = hotKeyDictation_ == HotKeyDictation::Stopped;
  hotKeyDictation_ = HotKeyDictation::Idle;
  if (!fromHotKey || text.empty() || !services_.paster || !pastesIntoActiveApp()) return;
  // The hot key opened the popover, which took the focus: closing it hands the focus back.
  std::weak_ptr<AppDelegate> self = weak_from_this();
  Console& console = services_.console;
  services_.paster->paste(
      text,
      [self] {
        if (auto strong = self.lock()) strong->closePopover();
      },
      [&console](PasteOutcome outcome) {
        if (outcome == PasteOutcome::Copied) console.line(kCopiedLine);
        if (outcome == PasteOutcome::Failed) {
          console.line("[Paste] Could not put the text on the clipboard");
        }
      });
}

void AppDelegate::showAbout() {
  services_.application.showAlert(kAboutTitle, kAboutBody, "OK");
}

void AppDelegate::quitApp() {
  services_.application.quit();
}

}  // namespace quorvel
