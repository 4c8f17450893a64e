// System-wide input: the F6 hot-key and clicks in other applications.
//
// Contract:
//   - registerHotKey grabs the key without modifiers (NumLock and CapsLock do not count as
//     modifiers) and returns 0, or a negative status when the grab is refused or impossible.
//     Each press (a held key counts once) calls onPress on the main thread, in order.
//   - requestHotKey is the same for backends whose answer comes later (a desktop portal asks
//     the user): onResult gets the status on the main thread, once. Optional: by default it
//     answers at once with registerHotKey's status.
//   - The click monitor calls onClick on the main thread for each mouse button press outside
//     this program's own windows.
// Linux: X11 key grab or the desktop portal's global shortcuts, and XInput2 raw button events.
// Tests: fakes that press on demand.
#pragma once

#include <functional>
#include <string>

namespace quorvel {

class GlobalHotKey {
 public:
  virtual ~GlobalHotKey() = default;
  virtual int registerHotKey(const std::string& keyName, std::function<void()> onPress) = 0;
  virtual void requestHotKey(const std::string& keyName, std::function<void()> onPress,
                             std::function<void(int status)> onResult) {
    onResult(registerHotKey(keyName, std::move(onPress)));
  }
};

class GlobalClickMonitor {
 public:
  virtual ~GlobalClickMonitor() = default;
  virtual bool install(std::function<void()> onClick) = 0;
};

}  // namespace quorvel
