// The tray item and popover as the recording side sees them, as a log of calls:
// "badge on", "badge off", "tooltip <text>", "closePopover", "showPopover".
#pragma once

#include <string>
#include <vector>

#include "platform/app_controller.h"

namespace quorvel::testing {

class FakeAppController final : public AppControllerPort {
 public:
  void showStatusBarBadge(bool recording) override {
    calls.push_back(recording ? "badge on" : "badge off");
  }
  void setStatusToolTip(const std::string& text) override { calls.push_back("tooltip " + text); }
  void showPopover() override { calls.push_back("showPopover"); }
  void closePopover() override { calls.push_back("closePopover"); }
  bool isPopoverShown() const override { return true; }

  std::vector<std::string> calls;
};

}  // namespace quorvel::testing
