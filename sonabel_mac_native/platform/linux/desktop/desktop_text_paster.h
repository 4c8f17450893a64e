// Pasting into the focused application through the GTK clipboard (see platform/text_paster.h).
//
// Implements: the text offered on CLIPBOARD (and PRIMARY when the keystroke pastes that), the
// paste keystroke from the first way that works here, and the earlier clipboard text put back
// once the application has fetched the new one (or a second after the keystroke, when it never
// does). Ways of sending the keystroke: X11, XTest; Wayland, the desktop portal's remote
// desktop keyboard, then `wtype`. With none, the text stays on the clipboard and a desktop
// notification (org.freedesktop.Notifications) says to press Ctrl+V.
// Missing: only text is put back: an image or files that were on the clipboard are replaced by
// the pasted text, which then stays there. On Wayland the earlier clipboard is not seen by an
// unfocused program, so the pasted text stays on the clipboard there too.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text_paster.h"

namespace quorvel {

// One way of sending the paste keystroke to the focused application.
class PasteKeystroke {
 public:
  virtual ~PasteKeystroke() = default;
  // As TextPaster::noteFocus.
  virtual bool noteFocus() { return true; }
  // Whether the keystroke pastes the PRIMARY selection (a terminal's Shift+Insert).
  virtual bool pastesPrimary() const { return false; }
  // Hands the focus back to the noted window and sends the keystroke; `done` once, on the main
  // loop, with whether it was sent.
  virtual void send(std::function<void(bool sent)> done) = 0;
};

class DesktopTextPaster final : public TextPaster {
 public:
  // Tried in order until one sends the keystroke.
  explicit DesktopTextPaster(std::vector<std::unique_ptr<PasteKeystroke>> keystrokes);
  ~DesktopTextPaster() override;

  bool noteFocus() override;
  void paste(const std::string& text, std::function<void()> handFocusBack,
             std::function<void(PasteOutcome)> done) override;

  struct Job;

 private:
  void sendFrom(size_t index, std::shared_ptr<Job> job);

  std::vector<std::unique_ptr<PasteKeystroke>> keystrokes_;
};

// The ways of this session's display: XTest on X11; the portal and wtype on Wayland.
std::vector<std::unique_ptr<PasteKeystroke>> x11PasteKeystrokes();
std::vector<std::unique_ptr<PasteKeystroke>> waylandPasteKeystrokes();

}  // namespace quorvel
