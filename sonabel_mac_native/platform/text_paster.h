// Putting a text into the application the user is working in, as if they had pasted it there.
//
// Contract (main thread only; none throws):
//   - noteFocus: remembers the window that holds the keyboard focus now, as the one a later
//     paste goes to. False when that window is this program's own, or when no window has the
//     focus; true where windows cannot be told apart (Wayland).
//   - paste: puts `text` on the clipboard, calls `handFocusBack` (optional: it closes whatever
//     of this program holds the focus; Wayland compositors let only the focused program set the
//     clipboard, hence this order), gives the focus to the noted window and sends the paste
//     keystroke (no other key, nothing left pressed, modifiers the user
//     holds released first); once the application has taken the text, the clipboard holds
//     again the text it held before. `done` is called once, on the main thread: Pasted; or
//     Copied when no keystroke can be sent here, the text then stays on the clipboard and the
//     desktop has been asked to show a notification; or Failed (the clipboard could not be
//     set).
// Linux: the GTK clipboard with XTest on X11; on Wayland the desktop portal's remote desktop
// keyboard or wtype. Tests: the real one on the test session's desktop.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

enum class PasteOutcome { Pasted, Copied, Failed };

class TextPaster {
 public:
  virtual ~TextPaster() = default;
  virtual bool noteFocus() = 0;
  virtual void paste(const std::string& text, std::function<void()> handFocusBack,
                     std::function<void(PasteOutcome)> done) = 0;
};

}  // namespace quorvel
