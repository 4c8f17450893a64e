// Application on GTK 3 and GIO.
//
// Implements: one instance per user session through GApplication uniqueness on the session bus
// (application id "app.quorvel.Quorvel"; without a session bus every process counts as the
// primary one), modal alerts as GTK message dialogs, quit by ending the GTK main loop.
// Missing: activating the running instance from the second one (it only leaves).
#pragma once

#include <gio/gio.h>

#include "platform/application.h"

namespace quorvel {

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

 private:
  GApplication* application_;
};

}  // namespace quorvel
