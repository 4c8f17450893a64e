// The application as a whole: ending it, modal alerts, one instance per session.
//
// Contract (main thread only):
//   - registerAsPrimaryInstance: true when this process is the session's one instance; false
//     when another instance already runs (this one should then leave at once).
//   - showAlert: a modal dialog with a title, a body and a single button; returns when it has
//     been dismissed.
//   - quit: ends the event loop and with it the process. Nothing is saved first.
//   - setWindowed (optional): whether the program shows itself as a window (no tray) now, for
//     later starts of the program to know.
// Linux: GApplication uniqueness and GTK dialogs. Tests: a recorder.
#pragma once

#include <string>

namespace quorvel {

class Application {
 public:
  virtual ~Application() = default;

  virtual bool registerAsPrimaryInstance() = 0;
  virtual void showAlert(const std::string& title, const std::string& body,
                         const std::string& button) = 0;
  virtual void quit() = 0;
  virtual void setWindowed(bool windowed) { (void)windowed; }
};

}  // namespace quorvel
