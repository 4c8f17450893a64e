#include "platform/linux/desktop/webkit_page_view.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/desktop/desktop_session.h"
#include "web/page_calls.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::runUntil;

TEST(WebKitPageView, loads_the_bundle_page_and_runs_calls_both_ways_but_nothing_from_outside) {
  ASSERT_TRUE(testing::startGtk());
  gchar* tmp = g_dir_make_tmp("quorvel-webview-XXXXXX", nullptr);
  const fs::path dir = tmp, bundle = dir / "bundle";
  g_free(tmp);
  fs::create_directories(bundle);
  auto view = std::make_shared<WebKitPageView>();
  GtkWidget* window = gtk_offscreen_window_new();
  gtk_container_add(GTK_CONTAINER(window), view->widget());
  gtk_widget_show_all(window);
  int loads = 0;
  view->setLoadFinishedHandler([&] { ++loads; });
  std::vector<nlohmann::json> got;
  view->setMessageHandler("pywebview", [&](const nlohmann::json& body) { got.push_back(body); });
  view->addDocumentStartScript("window.shimmed = true;");
  auto value = [&](const std::string& script) {
    std::optional<std::string> result;
    bool done = false;
    view->evaluateForValue(script, [&](auto json, auto) {
      result = json;
      done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }));
    return result.value_or("<none>");
  };
  // A loopback port that listens but never accepts: any connection to it waits in its queue.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(fd, 8), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  // Each file is its own origin, so the frame reports by message.
  std::ofstream(bundle / "frame.html")
      << "<script>parent.postMessage(window.shimmed === true, '*');</script>";
  std::ofstream(bundle / "ui.html")
      << "<script>window.pageSaw = window.shimmed === true; window.failed = 0; "
         "addEventListener('message', e => { window.frameSaw = e.data; });</script>"
         "<iframe src='frame.html'></iframe><img src='http://"
      << host << "/a.png' onerror='failed++'><img src='https://" << host
      << "/b.png' onerror='failed++'>";
  view->loadFile(bundle / "ui.html", bundle);
  ASSERT_TRUE(runUntil([&] { return loads == 1; }, 20.0));

  EXPECT_EQ(value("window.pageSaw"), "true");
  EXPECT_TRUE(runUntil([&] { return value("window.frameSaw") == "true"; }));
  EXPECT_TRUE(runUntil([&] { return value("window.failed") == "2"; })) << "http(s) not blocked";
  EXPECT_LT(::accept(fd, nullptr, nullptr), 0) << "a connection was made";
  ::close(fd);
  // Navigation is allowed within the bundle only.
  for (const auto& [uri, allowed] : std::vector<std::pair<std::string, bool>>{
           {"file://" + bundle.string() + "/ui.html#history", true},
           {"about:blank", true},
           {"file://" + bundle.string() + "-evil/ui.html", false},
           {"file://" + dir.string() + "/out.html", false},
           {"https://example.com/", false},
           {"data:text/html,<p>x</p>", false}}) {
    EXPECT_EQ(view->allowsNavigationTo(uri), allowed) << uri;
  }
  view->evaluate(
      "const h = window.webkit.messageHandlers.pywebview; h.postMessage('text'); "
      "h.postMessage([1]); h.postMessage(null); h.postMessage({action: 'save_history', n: 2});");
  ASSERT_TRUE(runUntil([&] { return !got.empty(); }));
  value("0");
  EXPECT_EQ(got, (std::vector<nlohmann::json>{{{"action", "save_history"}, {"n", 2}}}));
  std::vector<std::optional<std::string>> outcomes;
  for (const char* script : {"document.body", "noSuchFunction()"}) {
    view->evaluate(script, [&](std::optional<std::string> e) { outcomes.push_back(e); });
  }
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 2; }));
  EXPECT_FALSE(outcomes[0]) << "a value it cannot pass back is no error";
  EXPECT_NE(outcomes[1].value_or("").find("ReferenceError"), std::string::npos);
  // The program's calls go without a completion; a NUL must not cut them short.
  value("window.got = []; addEventListener('speech_result', e => got.push(e.detail))");
  view->evaluate(page::speechResultEvent(std::string("n\0ul\x01'\\", 7)));
  EXPECT_EQ(value("got"), R"(["n\u0000ul\u0001'\\"])");
  gtk_widget_destroy(window);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
