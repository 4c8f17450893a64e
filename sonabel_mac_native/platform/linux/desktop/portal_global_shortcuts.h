// The global hot-key through the desktop portal (org.freedesktop.portal.GlobalShortcuts), for
// Wayland sessions where no client may grab keys.
//
// Implements: requestHotKey opens a portal session and binds one shortcut, id
// "toggle-recording", described "Start or stop dictation", with the key name as preferred
// trigger; the compositor (or the user, in its dialog) decides the actual key. Each Activated
// signal of that session and id calls onPress on the main loop. Statuses: 0 bound;
// kPortalAbsent when no portal answers or it has no GlobalShortcuts; kRefused when the
// session or the binding was denied or the shortcut is missing from the answer.
// Missing: registerHotKey cannot answer at once and reports kAnswersLater; Deactivated
// (release) is ignored; the session is never closed before the process ends.
// Main thread only.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

#include "platform/global_input.h"

namespace quorvel {

class PortalGlobalShortcuts final : public GlobalHotKey {
 public:
  static constexpr int kAlreadyRegistered = -3;
  static constexpr int kPortalAbsent = -4;
  static constexpr int kRefused = -5;
  static constexpr int kAnswersLater = -6;

  PortalGlobalShortcuts() = default;
  ~PortalGlobalShortcuts() override;
  PortalGlobalShortcuts(const PortalGlobalShortcuts&) = delete;
  PortalGlobalShortcuts& operator=(const PortalGlobalShortcuts&) = delete;

  int registerHotKey(const std::string& keyName, std::function<void()> onPress) override;
  void requestHotKey(const std::string& keyName, std::function<void()> onPress,
                     std::function<void(int status)> onResult) override;

 private:
  // Calls `method` and hands its Response to `then` (null when the call failed).
  void request(const char* method, GVariant* args, const std::string& token,
               void (*then)(PortalGlobalShortcuts*, GVariant* response));
  static void onSessionCreated(PortalGlobalShortcuts* self, GVariant* response);
  static void onBound(PortalGlobalShortcuts* self, GVariant* response);
  void finish(int status);

  GDBusConnection* bus_ = nullptr;
  std::string trigger_;
  std::string session_;
  std::function<void()> onPress_;
  std::function<void(int)> onResult_;
  guint responseSubscription_ = 0;
  guint activatedSubscription_ = 0;
  bool requested_ = false;
};

}  // namespace quorvel
