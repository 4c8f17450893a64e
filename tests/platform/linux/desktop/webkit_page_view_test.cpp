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

class WebKitPageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_);
    char pattern[] = "/tmp/quorvel-webview-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "bundle");
    gtk_container_add(GTK_CONTAINER(window_), view_->widget());
    gtk_widget_show_all(window_);
    view_->setLoadFinishedHandler([this] { ++loads_; });
  }
  void TearDown() override {
    gtk_widget_destroy(window_);
    fs::remove_all(dir_);
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  bool loadPage(const std::string& html) {
    write("bundle/ui.html", html);
    const int before = loads_;
    view_->loadFile(dir_ / "bundle/ui.html", dir_ / "bundle");
    return runUntil([&] { return loads_ > before; }, 20.0);
  }
  std::string value(const std::string& script) {
    std::optional<std::string> result;
    bool done = false;
    view_->evaluateForValue(script, [&](std::optional<std::string> json, auto) {
      result = json;
      done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }));
    return result.value_or("<none>");
  }

  fs::path dir_;
  bool gtk_ = testing::startGtk();
  std::shared_ptr<WebKitPageView> view_ = std::make_shared<WebKitPageView>();
  GtkWidget* window_ = gtk_offscreen_window_new();
  int loads_ = 0;
};

TEST_F(WebKitPageViewTest,
       runs_the_start_script_first_in_every_frame_and_passes_on_object_messages) {
  std::vector<nlohmann::json> got;
  view_->setMessageHandler("pywebview", [&](const nlohmann::json& body) { got.push_back(body); });
  view_->addDocumentStartScript("window.shimmed = true;");
  // Each file is its own origin, so the frame reports by message.
  write("bundle/frame.html", "<script>parent.postMessage(window.shimmed === true, '*');</script>");
  ASSERT_TRUE(loadPage(
      "<script>window.pageSaw = window.shimmed === true; addEventListener('message', e => { "
      "window.frameSaw = e.data; });</script><iframe src='frame.html'></iframe>"));
  EXPECT_EQ(value("window.pageSaw"), "true");
  EXPECT_TRUE(runUntil([&] { return value("window.frameSaw") == "true"; }));
  view_->evaluate(
      "const h = window.webkit.messageHandlers.pywebview; h.postMessage('text'); "
      "h.postMessage([1]); h.postMessage(null); h.postMessage({action: 'save_history', n: 2});");
  ASSERT_TRUE(runUntil([&] { return !got.empty(); }));
  value("0");
  EXPECT_EQ(got, (std::vector<nlohmann::json>{{{"action", "save_history"}, {"n", 2}}}));
}

// Every navigation the view is asked about, seen before any handler decides.
gboolean noteNavigation(GSignalInvocationHint*, guint, const GValue* params, gpointer seen) {
  auto* decision = static_cast<WebKitPolicyDecision*>(g_value_get_object(&params[1]));
  if (WEBKIT_IS_NAVIGATION_POLICY_DECISION(decision)) {
    static_cast<int*>(seen)[0]++;
  }
  return TRUE;
}

TEST_F(WebKitPageViewTest, stays_within_the_bundle) {
  write("out.html", "<p>outside</p>");
  write("bundle/second.html", "<p>second</p>");
  ASSERT_TRUE(loadPage("<p>first</p>"));
  const std::string bundle = "file://" + (dir_ / "bundle").string();
  for (const auto& [uri, allowed] :
       std::vector<std::pair<std::string, bool>>{{bundle + "/ui.html#history", true},
                                                 {"about:blank", true},
                                                 {bundle + "-evil/ui.html", false},
                                                 {"file://" + (dir_ / "out.html").string(), false},
                                                 {"https://example.com/", false},
                                                 {"data:text/html,<p>x</p>", false}}) {
    EXPECT_EQ(view_->allowsNavigationTo(uri), allowed) << uri;
  }
  int asked = 0;
  const guint signal = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
  const gulong hook = g_signal_add_emission_hook(signal, 0, noteNavigation, &asked, nullptr);
  view_->evaluate("location.href = 'file://" + (dir_ / "out.html").string() + "';");
  EXPECT_TRUE(runUntil([&] { return asked == 1; }));
  const int before = loads_;
  view_->evaluate("location.href = 'second.html';");
  EXPECT_TRUE(runUntil([&] { return loads_ > before; }));
  g_signal_remove_emission_hook(signal, hook);
  EXPECT_EQ(value("location.pathname.endsWith('/bundle/second.html')"), "true");
  EXPECT_EQ(loads_, before + 1);
}

TEST_F(WebKitPageViewTest, reports_throws_loads_and_passes_nul_characters_through) {
  ASSERT_TRUE(loadPage("<p>page</p>"));
  std::vector<std::optional<std::string>> outcomes;
  for (const char* script : {"document.body", "noSuchFunction()", "1 + 1"}) {
    view_->evaluate(script, [&](std::optional<std::string> e) { outcomes.push_back(e); });
  }
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 3; }));
  EXPECT_FALSE(outcomes[0] || outcomes[2]) << "a value it cannot pass back is no error";
  EXPECT_NE(outcomes[1].value_or("").find("ReferenceError"), std::string::npos);
  // The program's calls go without a completion; a NUL must not cut them short.
  value("window.got = []; addEventListener('speech_result', e => got.push(e.detail))");
  view_->evaluate(page::speechResultEvent(std::string("n\0ul\x01'\\", 7)));
  EXPECT_EQ(value("got"), R"(["n\u0000ul\u0001'\\"])");
  const int before = loads_;
  view_->evaluate("location.reload();");
  ASSERT_TRUE(runUntil([&] { return loads_ == before + 1; }));
  view_->loadHTML("<html><body><h1>Error loading ui.html</h1></body></html>");
  ASSERT_TRUE(runUntil([&] { return loads_ == before + 2; }));
  EXPECT_EQ(value("document.querySelector('h1').textContent"), "\"Error loading ui.html\"");
}

TEST_F(WebKitPageViewTest, the_page_cannot_fetch_an_http_or_https_sub_resource) {
  // A loopback port that listens but never accepts: any connection to it waits in its queue.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(fd, 8), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  ASSERT_TRUE(loadPage("<script>window.failed = 0;</script><img src='http://" + host +
                       "/a.png' onerror='failed++'><img src='https://" + host +
                       "/b.png' onerror='failed++'>"));
  EXPECT_TRUE(runUntil([&] { return value("window.failed") == "2"; }));
  EXPECT_LT(::accept(fd, nullptr, nullptr), 0) << "a connection was made";
  ::close(fd);
}

TEST_F(WebKitPageViewTest, alert_shows_a_dialog_and_the_page_goes_on_once_it_is_dismissed) {
  ASSERT_TRUE(loadPage("<p>page</p>"));
  std::string text;
  // Answers the dialog from inside its own modal loop, as the user would.
  const guint poll = g_timeout_add(
      20,
      [](gpointer seen) -> gboolean {
        GList* windows = gtk_window_list_toplevels();
        for (GList* w = windows; w; w = w->next) {
          if (!GTK_IS_MESSAGE_DIALOG(w->data) || !gtk_widget_get_visible(GTK_WIDGET(w->data)))
            continue;
          gchar* message = nullptr;
          g_object_get(w->data, "text", &message, nullptr);
          *static_cast<std::string*>(seen) = message ? message : "";
          g_free(message);
          gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_OK);
        }
        g_list_free(windows);
        return G_SOURCE_CONTINUE;
      },
      &text);
  bool answered = false;
  view_->evaluate("alert('[Native] it broke'); window.after = true;",
                  [&](auto) { answered = true; });
  const bool done = runUntil([&] { return answered; });
  g_source_remove(poll);
  ASSERT_TRUE(done);
  EXPECT_EQ(text, "[Native] it broke");
  EXPECT_EQ(value("window.after"), "true");
}

}  // namespace
}  // namespace quorvel
