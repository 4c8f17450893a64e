// QuorvelApp.main: the composition root. Reads the options; hands a start to the instance
// already running, if any, and leaves; otherwise builds the Linux providers and the services,
// hands them to the one AppDelegate, and runs the GTK main loop until "Quit Quorvel".
#include <gdk/gdkx.h>
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
#include "platform/linux/desktop/desktop_text_paster.h"
#include "platform/linux/desktop/glib_main_queue.h"
#include "platform/linux/desktop/popover_window.h"
#include "platform/linux/desktop/portal_global_shortcuts.h"
#include "platform/linux/desktop/status_item_factory.h"
#ifdef QUORVEL_WITH_TEST_PROBE
#include "platform/linux/desktop/test_probe.h"
#endif
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

// The request on the command line; exits the process for --help and for bad options. GTK's own
// options are left for gtk_init.
LaunchRequest parseOptions(int& argc, char**& argv) {
  gboolean toggle = FALSE;
  gboolean show = FALSE;
  const GOptionEntry entries[] = {
      {"toggle", 0, 0, G_OPTION_ARG_NONE, &toggle,
       "Start or stop dictation in the running Quorvel, as F6 does (with none running, start "
       "Quorvel without recording)",
       nullptr},
      {"show", 0, 0, G_OPTION_ARG_NONE, &show, "Open Quorvel's popover (or its window)", nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  GOptionContext* context = g_option_context_new(nullptr);
  g_option_context_set_summary(context,
                               "Voice to polished text. Lives in the tray; F6 starts and stops "
                               "dictation.");
  g_option_context_add_main_entries(context, entries, nullptr);
  g_option_context_set_ignore_unknown_options(context, TRUE);
  GError* error = nullptr;
  const bool parsed = g_option_context_parse(context, &argc, &argv, &error);
  g_option_context_free(context);
  if (!parsed) {
    std::fprintf(stderr, "quorvel: %s (see quorvel --help)\n", error->message);
    g_error_free(error);
    std::exit(2);
  }
  return toggle ? LaunchRequest::Toggle : show ? LaunchRequest::Show : LaunchRequest::Start;
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
  const LaunchRequest request = parseOptions(argc, argv);

  DesktopApplication application;
  runningApplication = &application;
  if (!application.registerAsPrimaryInstance()) {
    const bool windowed = application.forwardToPrimary(request);
    if (request == LaunchRequest::Start && !windowed) std::puts("Quorvel is already running");
    std::fflush(stdout);
    return 0;
  }
  gtk_init(&argc, &argv);
  endOnSignals();

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
  // Wayland lets no client grab a key: there the desktop portal binds it.
  std::unique_ptr<GlobalHotKey> hotKey;
  if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
    hotKey = std::make_unique<X11GlobalHotKey>();
  } else {
    hotKey = std::make_unique<PortalGlobalShortcuts>();
  }
  X11ClickMonitor clicks;
  DesktopTextPaster paster(GDK_IS_X11_DISPLAY(gdk_display_get_default())
                               ? x11PasteKeystrokes()
                               : waylandPasteKeystrokes());

  AudioEngineServices engine{mainQueue, recognizers, permissions, microphone,
                             polisher,  history,     usage,       console};
  auto delegate = std::make_shared<AppDelegate>(AppDelegateServices{
      .makeStatusItem = []() -> std::shared_ptr<StatusItem> { return tray::makeStatusItem(); },
      .makePageHost =
          [&](std::weak_ptr<AppControllerPort> controller) {
            return std::make_shared<WebViewController>(
                WebViewControllerServices{webViews, engine, files, bundleSearchPaths(program)},
                std::move(controller));
          },
      .makePopover = [&webViews] { return std::make_shared<PopoverWindow>(webViews); },
      .clickMonitor = &clicks,
      .hotKey = *hotKey,
      .application = application,
      .mainQueue = mainQueue,
      .console = console,
      .polisher = polisher,
      .loginItem = loginItem,
      .paster = &paster,
  });

  application.setRequestHandler([&mainQueue, delegate](LaunchRequest later) {
    mainQueue.async([delegate, later] {
      switch (later) {
        case LaunchRequest::Start:
          delegate->reopen();
          break;
        case LaunchRequest::Toggle:
          delegate->handleHotkeyAction();
          break;
        case LaunchRequest::Show:
          delegate->showPopover();
          break;
      }
    });
  });

  mainQueue.async([delegate, &mainQueue, &webViews, request] {
    delegate->applicationDidFinishLaunching();
    if (request == LaunchRequest::Show) delegate->showPopover();
#ifdef QUORVEL_WITH_TEST_PROBE
    if (testProbeRequested()) {
      // After the page, which the delegate sets up after the same delay.
      mainQueue.asyncAfter(kPageSetUpDelaySeconds, [delegate, &webViews] {
        installTestProbe(
            webViews.made(delegate->webViewController()->webView().get()),
            [delegate] { return delegate->isPopoverShown(); },
            [delegate] { delegate->closePopover(); });
      });
    }
#endif
  });
  gtk_main();

  // Quitting ends the process as it stands: nothing is torn down first, as nothing needs to be.
  endProcess();
}

}  // namespace quorvel

int main(int argc, char** argv) {
  return quorvel::QuorvelApp::main(argc, argv);
}
