// Popover as an undecorated GTK window beside the tray item.
//
// Implements: fixed content size, the web view as content, placement centred on the anchor's x
// and below it in the top half of the screen (above it in the bottom half), clamped to the
// monitor's work area; keyboard focus on show; hide on close and on the window manager's close
// request; optional hide on focus loss. No taskbar or pager entry. On Wayland, where a client
// cannot place its own windows, it is a layer-shell surface anchored at the item (or, with no
// item position, at the top right corner) where the compositor offers layer-shell (KDE,
// wlroots); elsewhere the compositor places it. As a window (useAsWindow): decorated, in the
// taskbar, placed by the window manager; while a recording runs its title says so and its icon
// is the red recording dot.
// Missing: an arrow pointing at the item; on Wayland without layer-shell it is not placed
// next to the item; once shown as a layer surface it stays one when it becomes the window.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "platform/popover.h"

namespace quorvel {

class WebKitPageView;
class WebKitPageViewFactory;

class PopoverWindow final : public Popover {
 public:
  // Shows views that `views` made.
  explicit PopoverWindow(const WebKitPageViewFactory& views);
  ~PopoverWindow() override;
  PopoverWindow(const PopoverWindow&) = delete;
  PopoverWindow& operator=(const PopoverWindow&) = delete;

  void setContentSize(int width, int height) override;
  void setContent(std::shared_ptr<WebView> view) override;
  void show(std::optional<ScreenPoint> anchor) override;
  void close() override;
  bool isShown() const override;
  void setClosesOnFocusLoss(bool closes) override { closesOnFocusLoss_ = closes; }
  void useAsWindow(bool asWindow) override;
  void setRecordingBadge(bool recording) override;
  void setFocusLossHandler(std::function<void()> onClosed) override {
    onFocusLoss_ = std::move(onClosed);
  }
  void closeOnFocusLoss();

  bool closesOnFocusLoss() const { return closesOnFocusLoss_; }
  GtkWindow* window() const { return window_; }

 private:
  GtkWindow* window_;
  const WebKitPageViewFactory& views_;
  std::shared_ptr<WebKitPageView> page_;
  int width_ = 440;
  int height_ = 420;
  bool closesOnFocusLoss_ = false;
  std::function<void()> onFocusLoss_;
  bool asWindow_ = false;
  bool blends_ = false;
  bool recording_ = false;  // an RGBA visual: transparent where the page paints nothing
  bool layered_ = false;
  void placeOnLayer(std::optional<ScreenPoint> anchor);
};

}  // namespace quorvel
