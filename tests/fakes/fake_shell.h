// Recorders for the desktop shell's ports: tray item, popover, application, F6 grab and click
// monitor. Each appends what happened to an optional shared event log, so a test can check the
// order in which the controller used them, and each can be told to refuse.
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

namespace quorvel::testing {

using EventLog = std::vector<std::string>;

inline void note(EventLog* log, const std::string& what) {
  if (log) log->push_back(what);
}

class FakeStatusItem final : public StatusItem {
 public:
  explicit FakeStatusItem(EventLog* log = nullptr) : log_(log) {}
  void setImage(StatusImage value) override {
    image = value;
    note(log_, value == StatusImage::RecordingBadge ? "tray.badge" : "tray.icon");
  }
  void setToolTip(const std::string& text) override { toolTip = text; }
  void setActivateHandler(std::function<void(ScreenPoint)> handler) override {
    activate = std::move(handler);
    note(log_, "tray.activate-handler");
  }
  void setMenuProvider(std::function<MenuModel()> provider) override {
    menuProvider = std::move(provider);
    note(log_, "tray.menu-provider");
  }
  void popUpMenu(ScreenPoint) override { ++menuPopUps; }
  std::optional<ScreenPoint> anchor() const override { return where; }
  void setHostAvailabilityHandler(std::function<void(bool)> handler) override {
    availability = std::move(handler);
    availability(hostAvailable);
  }
  void setHostAvailable(bool value) {
    hostAvailable = value;
    if (availability) availability(value);
  }

  void leftClick() {
    if (activate) activate(where.value_or(ScreenPoint{}));
  }
  MenuModel rightClick() { return menuProvider ? menuProvider() : MenuModel{}; }

  std::optional<StatusImage> image;
  std::optional<std::string> toolTip;
  std::function<void(ScreenPoint)> activate;
  std::function<MenuModel()> menuProvider;
  std::function<void(bool)> availability;
  bool hostAvailable = true;
  std::optional<ScreenPoint> where = ScreenPoint{600, 0};
  int menuPopUps = 0;

 private:
  EventLog* log_;
};

class FakePopover final : public Popover {
 public:
  explicit FakePopover(EventLog* log = nullptr) : log_(log) {}
  void setContentSize(int w, int h) override {
    width = w;
    height = h;
    note(log_, "popover.size");
  }
  void setContent(std::shared_ptr<WebView> view) override {
    content = std::move(view);
    note(log_, "popover.content");
  }
  void show(std::optional<ScreenPoint> at) override {
    ++shows;
    anchor = at;
    shown = true;
  }
  void close() override {
    ++closes;
    shown = false;
  }
  bool isShown() const override { return shown; }
  void setClosesOnFocusLoss(bool value) override { closesOnFocusLoss = value; }
  void useAsWindow(bool value) override { window = value; }
  void setRecordingBadge(bool recording) override { badge = recording; }
  void setFocusLossHandler(std::function<void()> handler) override {
    onFocusLoss = std::move(handler);
  }
  // Another program took the keyboard focus.
  void loseFocus() {
    if (!closesOnFocusLoss || !shown || window) return;
    shown = false;
    if (onFocusLoss) onFocusLoss();
  }

  int width = 0, height = 0, shows = 0, closes = 0;
  bool shown = false;
  bool closesOnFocusLoss = false;
  bool window = false;
  bool badge = false;
  std::function<void()> onFocusLoss;
  std::optional<ScreenPoint> anchor;
  std::shared_ptr<WebView> content;

 private:
  EventLog* log_;
};

class FakeApplication final : public Application {
 public:
  bool registerAsPrimaryInstance() override { return primary; }
  void showAlert(const std::string& title, const std::string& body,
                 const std::string& button) override {
    alerts.push_back({title, body, button});
  }
  void quit() override { ++quits; }
  void setWindowed(bool value) override { windowed = value; }

  struct Alert {
    std::string title, body, button;
  };
  bool primary = true;
  bool windowed = false;
  std::vector<Alert> alerts;
  int quits = 0;
};

class FakeHotKey final : public GlobalHotKey {
 public:
  explicit FakeHotKey(EventLog* log = nullptr) : log_(log) {}
  int registerHotKey(const std::string& keyName, std::function<void()> onPress) override {
    key = keyName;
    press = std::move(onPress);
    ++registrations;
    note(log_, "hotkey.register");
    return status;
  }
  void pressKey() {
    if (press) press();
  }

  int status = 0;  // what registration answers; negative = refused
  int registrations = 0;
  std::string key;
  std::function<void()> press;

 private:
  EventLog* log_;
};

class FakeClickMonitor final : public GlobalClickMonitor {
 public:
  explicit FakeClickMonitor(EventLog* log = nullptr) : log_(log) {}
  bool install(std::function<void()> onClick) override {
    note(log_, "clicks.install");
    if (!available) return false;
    click = std::move(onClick);
    return true;
  }
  void clickElsewhere() {
    if (click) click();
  }

  bool available = true;
  std::function<void()> click;

 private:
  EventLog* log_;
};

// Start at login kept in a flag; `refuse` makes every change fail and leaves the flag alone.
class FakeLoginItem final : public LoginItem {
 public:
  bool isEnabled() const override { return enabled; }
  bool setEnabled(bool value) override {
    if (refuse) return false;
    enabled = value;
    return true;
  }

  bool enabled = false;
  bool refuse = false;
};

}  // namespace quorvel::testing
