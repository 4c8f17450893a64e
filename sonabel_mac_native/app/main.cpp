// QuorvelApp.main: the composition root. Checks that no other instance runs, builds the Linux
// providers and the services, hands them to the one AppDelegate, and runs the GTK main loop
// until "Quit Quorvel".
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "platform/linux/audio/always_authorized_permissions.h"
#include "platform/linux/audio/pocketsphinx_recognizer.h"
#include "platform/linux/audio/pulse_audio_input.h"
#include "platform/linux/desktop/desktop_application.h"
#include "platform/linux/desktop/glib_main_queue.h"
#include "platform/linux/desktop/popover_window.h"
#include "platform/linux/desktop/status_item_factory.h"
#ifdef QUORVEL_WITH_TEST_PROBE
#include "platform/linux/desktop/test_probe.h"
#endif
#include "platform/linux/desktop/webkit_page_view.h"
#include "platform/linux/desktop/x11_click_monitor.h"
#include "platform/linux/desktop/x11_global_hot_key.h"
#include "platform/linux/system/curl_http_client.h"
#include "web/web_view_controller.h"

namespace quorvel {

struct QuorvelApp {
  static int main(int argc, char** argv);
};

namespace {

// Where the resource bundle may be: <prefix>/share/quorvel beside the installed program, then
// the build folder.
std::vector<std::string> bundleSearchPaths() {
  std::vector<std::string> paths;
  std::error_code error;
  auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) paths.push_back((program.parent_path().parent_path() / "share/quorvel").string());
  paths.push_back(std::filesystem::path(QUORVEL_BUILD_RESOURCES).parent_path().string());
  return paths;
}

}  // namespace

int QuorvelApp::main(int argc, char** argv) {
  gtk_init(&argc, &argv);

  DesktopApplication application;
  if (!application.registerAsPrimaryInstance()) {
    std::puts("Quorvel is already running");
    std::fflush(stdout);
    return 0;
  }

  SystemHomeDirectory home;
  FileSystem& files = localFileSystem();
  Console& console = standardOutput();
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
                WebViewControllerServices{webViews, engine, files, bundleSearchPaths()},
                std::move(controller));
          },
      .makePopover = [] { return std::make_shared<PopoverWindow>(); },
      .clickMonitor = &clicks,
      .hotKey = hotKey,
      .application = application,
      .mainQueue = mainQueue,
      .console = console,
      .polisher = polisher,
  });

  mainQueue.async([delegate] {
    delegate->applicationDidFinishLaunching();
#ifdef QUORVEL_WITH_TEST_PROBE
    if (testProbeRequested()) {
      installTestProbe(
          std::dynamic_pointer_cast<WebKitPageView>(delegate->webViewController()->webView()),
          [delegate] { return delegate->isPopoverShown(); });
    }
#endif
  });
  gtk_main();

  // Quitting ends the process as it stands: nothing is torn down first, as nothing needs to be.
  std::fflush(stdout);
  _exit(0);
}

}  // namespace quorvel

int main(int argc, char** argv) {
  return quorvel::QuorvelApp::main(argc, argv);
}
