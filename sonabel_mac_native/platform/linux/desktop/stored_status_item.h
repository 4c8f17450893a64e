// What every tray item keeps of what it is told: the picture, the tool tip, the click handler
// and the menu provider. The setters store and then call a hook, so an item reacts to a change
// (emits a signal, redraws, passes it on) without repeating the bookkeeping; the stored values
// are there for the item to hand to a successor or to answer a host's question later.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "platform/status_item.h"

namespace quorvel::tray {

class StoredStatusItem : public StatusItem {
 public:
  void setImage(StatusImage image) final {
    image_ = image;
    imageChanged();
  }
  void setToolTip(const std::string& text) final {
    toolTip_ = text;
    toolTipChanged();
  }
  void setActivateHandler(std::function<void(ScreenPoint where)> handler) final {
    activateHandler_ = std::move(handler);
    activateHandlerChanged();
  }
  void setMenuProvider(std::function<MenuModel()> provider) final {
    menuProvider_ = std::move(provider);
    menuProviderChanged();
  }

 protected:
  virtual void imageChanged() {}
  virtual void toolTipChanged() {}
  virtual void activateHandlerChanged() {}
  virtual void menuProviderChanged() {}

  StatusImage image_ = StatusImage::MenuBarIcon;
  std::string toolTip_;
  std::function<void(ScreenPoint)> activateHandler_;
  std::function<MenuModel()> menuProvider_;
};

}  // namespace quorvel::tray
