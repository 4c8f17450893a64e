// Recorders for the desktop shell's ports: tray item, popover, application, F6 grab, click
// monitor and start at login. Each records what was done to it and can be told to refuse.
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

class FakeStatusItem final : public StatusItem {
 public:
  void setImage(StatusImage value) override { image = value; }
  void setToolTip(const std::string& text) override { toolTip = text; }
  void setActivateHandler(std::function<void(ScreenPoint)> handler) override {
    activate = std::move(handler);
  }
  void setMenuProvider(std::function<MenuModel()> provider) override {
    menuProvider = std::move(provider);
  }
  void popUpMenu(ScreenPoint) override {}
  std::optional<ScreenPoint> anchor() const override { return ScreenPoint{600, 0}; }

  void leftClick() { activate(ScreenPoint{600, 0}); }
  MenuModel rightClick() { return menuProvider(); }

  std::optional<StatusImage> image;
  std::optional<std::string> toolTip;
  std::function<void(ScreenPoint)> activate;
  std::function<MenuModel()> menuProvider;
};

class FakePopover final : public Popover {
 public:
  void setContentSize(int w, int h) override { size = {w, h}; }
  void setContent(std::shared_ptr<WebView> view) override { content = std::move(view); }
  void show(std::optional<ScreenPoint> at) override {
    ++shows;
    anchor = at;
    shown = true;
  }
  void close() override { shown = false; }
  bool isShown() const override { return shown; }
  void setClosesOnFocusLoss(bool value) override { closesOnFocusLoss = value; }
  void useAsWindow() override { window = true; }
  void setFocusLossHandler(std::function<void()> handler) override { onFocusLoss = handler; }
  // Another program took the keyboard focus.
  void loseFocus() {
    if (!closesOnFocusLoss || !shown) return;
    shown = false;
    if (onFocusLoss) onFocusLoss();
  }

  std::pair<int, int> size;
  int shows = 0;
  bool shown = false, closesOnFocusLoss = false, window = false;
  std::function<void()> onFocusLoss;
  std::optional<ScreenPoint> anchor;
  std::shared_ptr<WebView> content;
};

class FakeApplication final : public Application {
 public:
  bool registerAsPrimaryInstance() override { return true; }
  void showAlert(const std::string& title, const std::string& body,
                 const std::string& button) override {
    alerts.push_back(title + "|" + body + "|" + button);
  }
  void quit() override { ++quits; }
  std::vector<std::string> alerts;
  int quits = 0;
};

class FakeHotKey final : public GlobalHotKey {
 public:
  int registerHotKey(const std::string& keyName, std::function<void()> onPress) override {
    key = keyName;
    press = std::move(onPress);
    return status;
  }
  int status = 0;  // what registration answers; negative = refused
  std::string key;
  std::function<void()> press;
};

class FakeClickMonitor final : public GlobalClickMonitor {
 public:
  bool install(std::function<void()> onClick) override {
    if (available) click = std::move(onClick);
    return available;
  }
  bool available = true;
  std::function<void()> click;
};

// Start at login kept in a flag; `refuse` makes every change fail and leaves the flag alone.
class FakeLoginItem final : public LoginItem {
 public:
  bool isEnabled() const override { return enabled; }
  bool setEnabled(bool value) override {
    if (!refuse) enabled = value;
    return !refuse;
  }
  bool enabled = false, refuse = false;
};

}  // namespace quorvel::testing
