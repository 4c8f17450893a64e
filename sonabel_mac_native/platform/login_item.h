// Starting Quorvel when the user logs in.
//
// Contract (main thread only; none throws):
//   - isEnabled: whether Quorvel starts at login, looked up anew on every call, so a change
//     made outside the program shows at the next menu.
//   - setEnabled(true): Quorvel starts at login, as this very program; setEnabled(false): it
//     no longer does. True when the change took effect.
// Linux: an XDG autostart entry, <config home>/autostart/quorvel.desktop. Tests: a fake that
// can refuse changes.
#pragma once

namespace quorvel {

class LoginItem {
 public:
  virtual ~LoginItem() = default;
  virtual bool isEnabled() const = 0;
  virtual bool setEnabled(bool enabled) = 0;
};

}  // namespace quorvel
