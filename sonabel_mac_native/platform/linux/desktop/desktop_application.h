// Application on GTK 3 and GIO.
//
// Implements: one instance per user session through GApplication uniqueness on the session bus
// (application id "app.quorvel.Quorvel"; without a session bus every process counts as the
// primary one), modal alerts as GTK message dialogs, quit by ending the GTK main loop. A later
// start of the program hands its request (plain start, --toggle, --show) to the running
// instance as a GApplication remote action ("reopen", "toggle", "show") and leaves; the
// running instance publishes whether it shows itself as a window (no tray) in the boolean
// state of its "windowed" action, so the later start can word its message.
// Missing: command-line arguments other than the request are not forwarded.
#pragma once

#include <gio/gio.h>

#include <functional>

#include "platform/application.h"

namespace quorvel {

enum class LaunchRequest { Start, Toggle, Show };

class DesktopApplication final : public Application {
 public:
  DesktopApplication();
  ~DesktopApplication() override;
  DesktopApplication(const DesktopApplication&) = delete;
  DesktopApplication& operator=(const DesktopApplication&) = delete;

  bool registerAsPrimaryInstance() override;
  void showAlert(const std::string& title, const std::string& body,
                 const std::string& button) override;
  void quit() override;
  // Sends what is still queued for the session bus (a reply to the menu's quit row, say);
  // for the exit path.
  void flushBus();

  // In the primary instance: requests from later starts, on the main loop. Set before
  // registering; requests arriving without a handler are dropped.
  void setRequestHandler(std::function<void(LaunchRequest)> handler);
  void setWindowed(bool windowed) override;
  // In a later start, after registerAsPrimaryInstance answered false: sends the request to the
  // running instance and waits until it has left this process. Answers whether the running
  // instance shows itself as a window.
  bool forwardToPrimary(LaunchRequest request);

 private:
  static void onActivate(GSimpleAction* action, GVariant*, gpointer self);

  GApplication* application_;
  GSimpleAction* windowed_ = nullptr;
  std::function<void(LaunchRequest)> handler_;
};

}  // namespace quorvel
