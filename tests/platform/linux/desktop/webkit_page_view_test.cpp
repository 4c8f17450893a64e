#include "platform/linux/desktop/webkit_page_view.h"

#include <gtest/gtest.h>

#include <fcntl.h>
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
    ASSERT_TRUE(testing::startGtk());
    char pattern[] = "/tmp/quorvel-webview-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "bundle");
    view_ = std::make_shared<WebKitPageView>();
    window_ = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window_), view_->widget());
    gtk_widget_show_all(window_);
    view_->setLoadFinishedHandler([this] { ++loads_; });
  }
  void TearDown() override {
    if (window_) {
      gtk_container_remove(GTK_CONTAINER(window_), view_->widget());
      gtk_widget_destroy(window_);
    }
    view_.reset();
    fs::remove_all(dir_);
  }

  void writeFile(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  bool loadPage(const std::string& html) {
    writeFile("bundle/ui.html", html);
    int before = loads_;
    view_->loadFile((dir_ / "bundle/ui.html").string(), (dir_ / "bundle").string());
    return runUntil([&] { return loads_ > before; }, 20.0);
  }
  std::optional<std::string> value(const std::string& script) {
    std::optional<std::string> result;
    bool done = false;
    view_->evaluateForValue(script,
                            [&](std::optional<std::string> json, std::optional<std::string>) {
                              result = json;
                              done = true;
                            });
    EXPECT_TRUE(runUntil([&] { return done; }, 10.0));
    return result;
  }

  fs::path dir_;
  std::shared_ptr<WebKitPageView> view_;
  GtkWidget* window_ = nullptr;
  int loads_ = 0;
};

TEST_F(WebKitPageViewTest, delivers_object_messages_as_json_and_drops_every_other_body) {
  std::vector<nlohmann::json> got;
  view_->setMessageHandler("pywebview", [&](const nlohmann::json& body) { got.push_back(body); });
  ASSERT_TRUE(loadPage("<html><body>page</body></html>"));
  view_->evaluate(
      "const h = window.webkit.messageHandlers.pywebview;"
      "h.postMessage('text'); h.postMessage(7); h.postMessage([1, 2]); h.postMessage(null);"
      "h.postMessage({action: 'save_history', data: 'it\\'s', n: 2});"
      "h.postMessage({action: 'end'});");
  ASSERT_TRUE(runUntil([&] { return got.size() >= 2; }));
  EXPECT_EQ(got[0], nlohmann::json::parse(R"({"action": "save_history", "data": "it's", "n": 2})"));
  EXPECT_EQ(got[1], nlohmann::json::parse(R"({"action": "end"})"));
  EXPECT_EQ(got.size(), 2u);
}

TEST_F(WebKitPageViewTest, document_start_script_runs_before_page_scripts_in_every_frame) {
  view_->addDocumentStartScript("window.shimmed = true;");
  // Each file is its own origin (the page has no access to other files), so the frame reports
  // by message.
  writeFile("bundle/frame.html",
            "<script>parent.postMessage(window.shimmed === true, '*');</script>");
  ASSERT_TRUE(
      loadPage("<script>window.pageSaw = window.shimmed === true;"
               "addEventListener('message', e => { window.frameSaw = e.data; });</script>"
               "<iframe src='frame.html'></iframe>"));
  EXPECT_EQ(value("window.pageSaw"), "true");
  ASSERT_TRUE(runUntil([&] { return value("window.frameSaw") == "true"; }));
}

TEST_F(WebKitPageViewTest, allows_only_the_bundles_own_files_and_blank) {
  ASSERT_TRUE(loadPage("<p>first</p>"));
  std::string bundle = "file://" + (dir_ / "bundle").string();
  EXPECT_TRUE(view_->allowsNavigationTo(bundle + "/ui.html"));
  EXPECT_TRUE(view_->allowsNavigationTo(bundle + "/ui.html#history"));
  EXPECT_TRUE(view_->allowsNavigationTo("about:blank"));
  EXPECT_FALSE(view_->allowsNavigationTo(bundle + "-evil/ui.html"));
  EXPECT_FALSE(view_->allowsNavigationTo("file://" + (dir_ / "outside.html").string()));
  EXPECT_FALSE(view_->allowsNavigationTo("https://example.com/"));
  EXPECT_FALSE(view_->allowsNavigationTo("data:text/html,<p>x</p>"));
}

// Every navigation the view is asked about, seen before any handler decides.
gboolean noteDecision(GSignalInvocationHint*, guint count, const GValue* params, gpointer data) {
  if (count < 3) return TRUE;
  auto* seen = static_cast<std::vector<std::string>*>(data);
  auto* decision = static_cast<WebKitPolicyDecision*>(g_value_get_object(&params[1]));
  if (WEBKIT_IS_NAVIGATION_POLICY_DECISION(decision)) {
    auto* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    seen->push_back(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
  }
  return TRUE;
}

TEST_F(WebKitPageViewTest, refuses_to_leave_the_bundle_but_moves_within_it) {
  writeFile("outside.html", "<p>outside</p>");
  writeFile("bundle/second.html", "<p>second</p>");
  ASSERT_TRUE(loadPage("<p>first</p>"));
  std::vector<std::string> asked;
  guint signal = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
  gulong hook = g_signal_add_emission_hook(signal, 0, noteDecision, &asked, nullptr);
  std::string outside = "file://" + (dir_ / "outside.html").string();
  view_->evaluate("location.href = '" + outside + "';");
  bool decided = runUntil([&] { return !asked.empty(); });
  EXPECT_EQ(value("location.pathname.endsWith('/bundle/ui.html')"), "true");
  int before = loads_;
  view_->evaluate("location.href = 'second.html';");
  ASSERT_TRUE(runUntil([&] { return loads_ > before; }, 10.0));
  g_signal_remove_emission_hook(signal, hook);
  ASSERT_TRUE(decided);
  EXPECT_EQ(asked.front(), outside);
  EXPECT_EQ(value("location.pathname.endsWith('/bundle/second.html')"), "true");
  EXPECT_EQ(loads_, before + 1);
}

TEST_F(WebKitPageViewTest, evaluation_reports_throws_and_accepts_values_it_cannot_pass_back) {
  ASSERT_TRUE(loadPage("<p>page</p>"));
  std::vector<std::optional<std::string>> outcomes;
  view_->evaluate("document.body", [&](std::optional<std::string> e) { outcomes.push_back(e); });
  view_->evaluate("noSuchFunction()", [&](std::optional<std::string> e) { outcomes.push_back(e); });
  view_->evaluate("1 + 1", [&](std::optional<std::string> e) { outcomes.push_back(e); });
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 3; }));
  EXPECT_FALSE(outcomes[0].has_value());
  ASSERT_TRUE(outcomes[1].has_value());
  EXPECT_NE(outcomes[1]->find("ReferenceError"), std::string::npos);
  EXPECT_FALSE(outcomes[2].has_value());
  EXPECT_EQ(value("({a: 'x'})"), R"({"a":"x"})");
}

TEST_F(WebKitPageViewTest, reports_every_finished_main_frame_load_and_html_loads) {
  ASSERT_TRUE(loadPage("<p>one</p>"));
  int before = loads_;
  view_->evaluate("location.reload();");
  ASSERT_TRUE(runUntil([&] { return loads_ == before + 1; }, 10.0));
  view_->loadHTML("<html><body><h1>Error loading ui.html</h1></body></html>");
  ASSERT_TRUE(runUntil([&] { return loads_ == before + 2; }, 10.0));
  EXPECT_EQ(value("document.querySelector('h1').textContent"), "\"Error loading ui.html\"");
}

TEST_F(WebKitPageViewTest, every_page_call_carries_nul_and_control_characters_through) {
  ASSERT_TRUE(loadPage("<textarea id='editInstruction'></textarea>"));
  // Stand-ins for the page's functions: each call's values land in `got`.
  ASSERT_EQ(value("window.got = []; window.addEventListener('speech_result', e => got.push("
                  "e.detail)); window.updateResult = (...a) => got.push(a); "
                  "window.showRawAndStartPolish = (...a) => got.push(a); window.setLanguage = c => "
                  "got.push(c); window.alert = m => got.push(m); console.error = m => got.push(m); "
                  "window.updateUsage = u => got.push(u); window.renderHistory = () => "
                  "got.push(history); window.keep = v => got.push(JSON.parse(v)); "
                  "window._llmEditRequest = 1; 0"),
            "0");
  ASSERT_EQ(value("let history = null; 0"), "0");
  std::string text("n\0ul", 4);
  for (char c = 1; c < 0x20; ++c) text += c;
  text += "\x7f'\\end";
  std::string shown = text;
  std::erase(shown, '\r');  // the one character the escaping drops
  using nlohmann::json;
  const std::vector<std::pair<std::string, json>> calls = {
      {page::speechResultEvent(text), json::array({shown})},
      {page::updateResult(text, text, text, text), json::array({{shown, shown, shown, shown}})},
      {page::showRawAndStartPolish(text, text), json::array({{shown, shown}})},
      {page::setLanguage(text), json::array({shown})},
      {page::nativeError(text), json::array({"[Native] " + shown, shown})},
      {"window._llmEditResolve = keep; " + page::resolveLlmEditResult(text, 1),
       json::array({{{"result", shown}}})},
      {"window._llmEditResolve = keep; " + page::resolveLlmEditError(text),
       json::array({{{"error", shown}}})},
      {"window._editRecordResolve = keep; " +
           page::resolveEditRecord(json({{"text", text}}).dump()),
       json::array({{{"text", text}}})},
      {page::injectHistory(json::array({text}).dump()), json::array({json::array({text})})},
      {page::refreshUsage(json({{"note", text}}).dump()), json::array({{{"note", text}}})},
      {page::setEditInstruction(text) + " got.push(editInstruction.value);", json::array({shown})},
  };
  for (const auto& [script, expected] : calls) {
    view_->evaluate(script);  // the call the program makes, without a completion
    auto got = value("got.splice(0)");
    ASSERT_TRUE(got) << script;
    EXPECT_EQ(json::parse(*got), expected) << script;
  }
}

// A loopback port that listens but never accepts: any connection to it waits in its queue.
class ListeningPort {
 public:
  ListeningPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 8);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~ListeningPort() { ::close(fd_); }
  int port() const { return port_; }
  bool connected() const {
    int client = ::accept(fd_, nullptr, nullptr);
    if (client < 0) return false;
    ::close(client);
    return true;
  }

 private:
  int fd_;
  int port_ = 0;
};

TEST_F(WebKitPageViewTest, the_page_cannot_fetch_an_http_or_https_sub_resource) {
  ListeningPort remote;
  std::string host = "127.0.0.1:" + std::to_string(remote.port());
  ASSERT_TRUE(
      loadPage("<script>window.failed = 0;</script>"
               "<img src='http://" +
               host +
               "/a.png' onerror='failed++'>"
               "<img src='https://" +
               host + "/b.png' onerror='failed++'>"));
  ASSERT_TRUE(runUntil([&] { return value("window.failed") == "2"; }));
  EXPECT_FALSE(remote.connected());
}

GtkWidget* openMessageDialog() {
  GList* windows = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* w = windows; w; w = w->next) {
    if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
      found = GTK_WIDGET(w->data);
    }
  }
  g_list_free(windows);
  return found;
}

TEST_F(WebKitPageViewTest, alert_shows_a_dialog_and_the_page_goes_on_once_it_is_dismissed) {
  ASSERT_TRUE(loadPage("<p>page</p>"));
  std::string text;
  bool answered = false;
  // Answers the dialog from inside its own modal loop, as the user would.
  guint poll = g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        auto* seen = static_cast<std::string*>(data);
        GtkWidget* dialog = openMessageDialog();
        if (!dialog) return G_SOURCE_CONTINUE;
        gchar* message = nullptr;
        g_object_get(dialog, "text", &message, nullptr);
        *seen = message ? message : "";
        g_free(message);
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        return G_SOURCE_CONTINUE;
      },
      &text);
  view_->evaluate("alert('[Native] it broke'); window.after = true;",
                  [&](std::optional<std::string>) { answered = true; });
  bool done = runUntil([&] { return answered; }, 10.0);
  g_source_remove(poll);
  ASSERT_TRUE(done);
  EXPECT_EQ(text, "[Native] it broke");
  EXPECT_EQ(value("window.after"), "true");
}

}  // namespace
}  // namespace quorvel
