// What the recording side may ask of the application controller: the tray item's badge and
// tool tip, and the popover. Everything else of the controller is the shell's own.
//
// Contract: main thread only. The recording side holds this through a std::weak_ptr and skips
// each step while the controller is gone.
#pragma once

#include <string>

namespace quorvel {

class AppControllerPort {
 public:
  virtual ~AppControllerPort() = default;

  virtual void showStatusBarBadge(bool recording) = 0;
  virtual void setStatusToolTip(const std::string& text) = 0;
  virtual void showPopover() = 0;
  // performClose: hides the popover when it is shown, harmless otherwise.
  virtual void closePopover() = 0;
  virtual bool isPopoverShown() const = 0;
  // A dictation's result has been handed to the page: the polished text (the transcript when
  // polishing failed), or "" when nothing was said. Optional.
  virtual void dictationDelivered(const std::string& text) { (void)text; }
};

}  // namespace quorvel
