// Stand-ins for the desktop shell's ports: tray item, popover, the rest of the desktop and
// pasting. Each keeps what the shell's logic left in it, and the tests act as the desktop
// through their handlers.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/global_input.h"
#include "platform/login_item.h"
#include "platform/popover.h"
#include "platform/status_item.h"
#include "platform/text_paster.h"

namespace quorvel::testing {

// A tray item on a panel that is always there; the tests click it and ask for its menu.
class FakeStatusItem final : public StatusItem {
 public:
  void setImage(StatusImage) override {}
  void setToolTip(const std::string&) override {}
  void setActivateHandler(std::function<void(ScreenPoint)> handler) override { click = handler; }
  void setMenuProvider(std::function<MenuModel()> provider) override { menu = provider; }
  void popUpMenu(ScreenPoint) override {}
  std::optional<ScreenPoint> anchor() const override { return ScreenPoint{600, 0}; }
  void setHostAvailabilityHandler(std::function<void(bool)> handler) override { handler(true); }

  std::function<void(ScreenPoint)> click;
  std::function<MenuModel()> menu;
};

// Shown or not, at an anchor; loseFocus() closes it as a desktop would.
class FakePopover final : public Popover {
 public:
  void setContentSize(int, int) override {}
  void setContent(std::shared_ptr<WebView>) override {}
  void show(std::optional<ScreenPoint> at) override {
    anchor = at;
    shown = true;
    ++shows;
  }
  void close() override { shown = false; }
  bool isShown() const override { return shown; }
  void setClosesOnFocusLoss(bool value) override { closesOnFocusLoss = value; }
  void useAsWindow(bool) override {}
  void setFocusLossHandler(std::function<void()> handler) override { onFocusLoss = handler; }
  void loseFocus() {
    if (!closesOnFocusLoss || !shown) return;
    shown = false;
    if (onFocusLoss) onFocusLoss();
  }

  bool shown = false, closesOnFocusLoss = false;
  int shows = 0;
  std::function<void()> onFocusLoss;
  std::optional<ScreenPoint> anchor;
};

// The rest of the desktop: the application, the F6 grab (always granted), the monitor of clicks
// elsewhere (where `clicksWatched`) and start at login (off).
class FakeDesktop final : public Application,
                          public GlobalHotKey,
                          public GlobalClickMonitor,
                          public LoginItem {
 public:
  bool registerAsPrimaryInstance() override { return true; }
  void showAlert(const std::string&, const std::string&, const std::string&) override {}
  void quit() override {}
  int registerHotKey(const std::string&, std::function<void()> onPress) override {
    pressF6 = onPress;
    return 0;
  }
  bool install(std::function<void()> onClick) override {
    if (clicksWatched) clickElsewhere = onClick;
    return clicksWatched;
  }
  bool isEnabled() const override { return false; }
  bool setEnabled(bool) override { return false; }

  bool clicksWatched = true;
  std::function<void()> pressF6, clickElsewhere;
};

// Records what it pastes; `focus` is what noteFocus finds, `outcome` how every paste ends.
class FakeTextPaster final : public TextPaster {
 public:
  bool noteFocus() override { return focus; }
  void paste(const std::string& text, std::function<void()> handFocusBack,
             std::function<void(PasteOutcome)> done) override {
    pasted.push_back(text);
    handFocusBack();
    done(outcome);
  }
  bool focus = true;
  PasteOutcome outcome = PasteOutcome::Pasted;
  std::vector<std::string> pasted;
};

}  // namespace quorvel::testing
