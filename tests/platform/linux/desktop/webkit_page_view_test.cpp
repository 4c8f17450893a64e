#include "platform/linux/desktop/webkit_page_view.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/desktop/desktop_session.h"
#include "web/page_calls.h"

namespace quorvel {
namespace fs = std::filesystem;
using testing::runUntil;

TEST(WebKitPageView, loads_the_bundle_page_round_trips_a_call_and_lets_nothing_in_from_outside) {
  ASSERT_TRUE(testing::startGtk());
  const fs::path dir = fs::path(QUORVEL_BINARY_DIR) / "webkit-page-view", bundle = dir / "bundle";
  fs::remove_all(dir);
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
  // The page answers the program's call by message: only object bodies are passed on.
  std::ofstream(bundle / "ui.html")
      << "<script>window.pageSaw = window.shimmed === true; window.failed = 0; "
         "addEventListener('speech_result', e => { const h = webkit.messageHandlers.pywebview; "
         "h.postMessage('text'); h.postMessage([1]); h.postMessage({got: e.detail}); });</script>"
         "<img src='http://"
      << host << "/a.png' onerror='failed++'><img src='https://" << host
      << "/b.png' onerror='failed++'>";
  view->loadFile(bundle / "ui.html", bundle);
  ASSERT_TRUE(runUntil([&] { return loads == 1; }, 20.0));

  EXPECT_EQ(value("window.pageSaw"), "true");
  EXPECT_TRUE(runUntil([&] { return value("window.failed") == "2"; })) << "http(s) not blocked";
  EXPECT_LT(::accept(fd, nullptr, nullptr), 0) << "a connection was made";
  ::close(fd);
  // A NUL must not cut the call short.
  const std::string text("n\0ul\x01'\\", 7);
  view->evaluate(page::speechResultEvent(text));
  ASSERT_TRUE(runUntil([&] { return !got.empty(); }));
  value("0");
  EXPECT_EQ(got, (std::vector<nlohmann::json>{{{"got", text}}}));
  for (const auto& [uri, allowed] : std::vector<std::pair<std::string, bool>>{
           {"file://" + bundle.string() + "/ui.html#history", true},
           {"file://" + bundle.string() + "-evil/ui.html", false},
           {"https://example.com/", false}}) {
    EXPECT_EQ(view->allowsNavigationTo(uri), allowed) << uri;  // within the bundle only
  }
  gtk_widget_destroy(window);
  fs::remove_all(dir);
}

}  // namespace quorvel
