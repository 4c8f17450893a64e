// QuorvelApp.main: the composition root. Checks that no other instance runs, builds the Linux
// providers and the services, hands them to the one AppDelegate, and runs the GTK main loop
// until "Quit Quorvel".
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/version.h"
#include "platform/file_system.h"
#include "platform/linux/audio/always_authorized_permissions.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "platform/linux/desktop/desktop_application.h"
#include "platform/linux/desktop/glib_main_queue.h"
#include "platform/linux/desktop/popover_window.h"
#include "platform/linux/desktop/status_item_factory.h"
#include "platform/linux/desktop/test_probe.h"
#include "platform/linux/desktop/webkit_page_view.h"
#include "platform/linux/desktop/x11_click_monitor.h"
#include "platform/linux/desktop/x11_global_hot_key.h"
#include "platform/linux/system/curl_http_client.h"
#include "platform/linux/system/xdg_autostart_entry.h"
#include "store/app_folder.h"
#include "web/web_view_controller.h"

namespace quorvel {

struct QuorvelApp {
  static int main(int argc, char** argv);
};

namespace {

// Where the resource bundle may be: the data folder of the installation the program was started
// from (wherever it was unpacked), then the program's own folder (the build folder, where the
// bundle is copied beside the program).
std::vector<std::string> bundleSearchPaths(const std::string& program) {
  if (program.empty()) return {};
  std::filesystem::path folder = std::filesystem::path(program).parent_path();
  return {(folder / QUORVEL_DATA_DIR_FROM_PROGRAM).lexically_normal().string(), folder.string()};
}

// Ends the process at once, as quitting does: output and bus messages flushed, writes in
// progress completed. The session bus name, the tray socket and the key grabs go with the
// connections the kernel closes.
DesktopApplication* runningApplication = nullptr;

[[noreturn]] void endProcess() {
  if (runningApplication != nullptr) runningApplication->flushBus();
  std::fflush(stdout);
  std::fflush(stderr);
  holdFileWritesForExit();
  _exit(0);
}

// SIGTERM (kill, shutdown), SIGINT (Ctrl+C) and SIGHUP (session logout) end the program as
// "Quit Quorvel" does. They are handled on the main loop, between two events, so nothing on the
// main thread is cut off half-way; the exit happens there directly, since a nested loop (an
// alert) would swallow a gtk_main_quit.
void endOnSignals() {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        signal, [](gpointer) -> gboolean { endProcess(); }, nullptr);
  }
}

}  // namespace

int QuorvelApp::main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  endOnSignals();

  DesktopApplication application;
  runningApplication = &application;
  if (!application.registerAsPrimaryInstance()) {
    std::puts("Quorvel is already running");
    std::fflush(stdout);
    return 0;
  }

  SystemHomeDirectory home;
  FileSystem& files = localFileSystem();
  Console& console = standardOutput();
  // Before anything reads a file, and only in the one instance, so two never move at once.
  settleAppFolder(home, files, console);
  const std::string program = runningProgramPath();
  XdgAutostartEntry loginItem(home, files, program);
  CurlHttpClient http;
  GLibMainQueue mainQueue;
  DeepSeekPolisher polisher(home, files, http, console);
  HistoryStore history(home, files);
  UsageStore usage(home, files, systemCalendar());
  linux_audio::PocketSphinxRecognizerFactory recognizers(mainQueue, home);
  linux_audio::AlwaysAuthorizedPermissions permissions;
  linux_audio::PulseAudioInput microphone;
  WebKitPageViewFactory webViews;
  X11GlobalHotKey hotKey;
  X11ClickMonitor clicks;

  AudioEngineServices engine{mainQueue, recognizers, permissions, microphone,
                             polisher,  history,     usage,       console};
  auto delegate = std::make_shared<AppDelegate>(AppDelegateServices{
      .makeStatusItem = [] { return std::shared_ptr<StatusItem>(tray::makeStatusItem()); },
      .makePageHost =
          [&](std::weak_ptr<AppControllerPort> controller) {
            return std::make_shared<WebViewController>(
                WebViewControllerServices{webViews, engine, files, bundleSearchPaths(program)},
                std::move(controller));
          },
      .makePopover = [] { return std::make_shared<PopoverWindow>(); },
      .clickMonitor = &clicks,
      .hotKey = hotKey,
      .application = application,
      .mainQueue = mainQueue,
      .console = console,
      .polisher = polisher,
      .loginItem = loginItem,
  });

  mainQueue.async([delegate] {
    delegate->applicationDidFinishLaunching();
    if (testProbeRequested()) {
      installTestProbe(
          std::dynamic_pointer_cast<WebKitPageView>(delegate->webViewController()->webView()),
          [delegate] { return delegate->isPopoverShown(); });
    }
  });
  gtk_main();

  // Quitting ends the process as it stands: nothing is torn down first, as nothing needs to be.
  endProcess();
}

}  // namespace quorvel

int main(int argc, char** argv) {
  return quorvel::QuorvelApp::main(argc, argv);
}
