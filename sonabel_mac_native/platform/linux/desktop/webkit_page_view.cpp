// WebKitPageView: the page's web view on WebKitGTK 4.1 (see webkit_page_view.h for what it
// implements and what is missing).
#include "platform/linux/desktop/webkit_page_view.h"

#include <memory>
#include <utility>

namespace quorvel {

namespace {

constexpr int kUnsupportedResultType = 601;  // the script ran; its value cannot be passed back

struct HandlerBinding {
  WebKitPageView* view;
  std::string name;
};

void onMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* binding = static_cast<HandlerBinding*>(data);
  binding->view->deliverMessage(binding->name, result);
}

void freeBinding(gpointer data, GClosure*) {
  delete static_cast<HandlerBinding*>(data);
}

void onLoadChanged(::WebKitWebView*, WebKitLoadEvent event, gpointer data) {
  if (event == WEBKIT_LOAD_FINISHED) static_cast<WebKitPageView*>(data)->loadFinished();
}

gboolean onDecidePolicy(::WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(navigation);
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (uri && static_cast<WebKitPageView*>(data)->allowsNavigationTo(uri)) return FALSE;
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

gboolean onScriptDialog(::WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
  auto type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) return FALSE;
  GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view));
  GtkWindow* parent = GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
  bool asks = type != WEBKIT_SCRIPT_DIALOG_ALERT;
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL,
                                          asks ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO,
                                          asks ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s",
                                          webkit_script_dialog_get_message(dialog));
  gtk_window_set_title(GTK_WINDOW(box), "Quorvel");
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  if (asks) webkit_script_dialog_confirm_set_confirmed(dialog, response == GTK_RESPONSE_OK);
  return TRUE;
}

using ValueDone = WebKitPageView::ValueDone;

void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<ValueDone> done(static_cast<ValueDone*>(data));
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) {
    bool ran = error->domain == WEBKIT_JAVASCRIPT_ERROR && error->code == kUnsupportedResultType;
    std::string message = error->message ? error->message : "script failed";
    g_error_free(error);
    if (ran) {
      (*done)(std::string("null"), std::nullopt);
    } else {
      (*done)(std::nullopt, message);
    }
    return;
  }
  std::string json = "null";
  if (value) {
    if (char* text = jsc_value_to_json(value, 0)) {
      json = text;
      g_free(text);
    }
    g_object_unref(value);
  }
  (*done)(json, std::nullopt);
}

struct FilterWait {
  WebKitUserContentManager* manager;
  std::shared_ptr<WebKitPageView::FilterGate> gate;
};

// Compiled asynchronously; the view holds its loads back until the filter is in place.
void onFilterSaved(GObject* store, GAsyncResult* result, gpointer data) {
  std::unique_ptr<FilterWait> wait(static_cast<FilterWait*>(data));
  WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
      WEBKIT_USER_CONTENT_FILTER_STORE(store), result, nullptr);
  if (filter) {
    webkit_user_content_manager_add_filter(wait->manager, filter);
    webkit_user_content_filter_unref(filter);
  }
  g_object_unref(wait->manager);
  g_object_unref(store);
  // A filter that cannot be compiled (no cache folder) does not keep the page from loading.
  wait->gate->ready = true;
  if (auto load = std::move(wait->gate->pendingLoad)) load();
}

}  // namespace

WebKitPageView::WebKitPageView()
    : contentManager_(webkit_user_content_manager_new()),
      view_(WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(contentManager_))) {
  g_object_ref_sink(view_);
  // Only what the page uses: its own file, script and local storage. Nothing that reaches other
  // files, the network or devices.
  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  webkit_settings_set_allow_top_navigation_to_data_urls(settings, FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_webgl(settings, FALSE);
  webkit_settings_set_enable_webaudio(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_media(settings, FALSE);
  webkit_settings_set_enable_mediasource(settings, FALSE);
  webkit_settings_set_enable_encrypted_media(settings, FALSE);
  webkit_settings_set_enable_html5_database(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  // A small page in a popover: software drawing paints its first frame much sooner after the
  // window maps than setting up accelerated compositing does (seconds under a plain X server).
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
  installRemoteContentFilter();
}

WebKitPageView::~WebKitPageView() {
  filterGate_->pendingLoad = nullptr;
  g_signal_handlers_disconnect_by_data(view_, this);
  for (const auto& entry : handlers_) {
    webkit_user_content_manager_unregister_script_message_handler(contentManager_,
                                                                  entry.first.c_str());
  }
  gtk_widget_destroy(GTK_WIDGET(view_));
  g_object_unref(view_);
  g_object_unref(contentManager_);
}

void WebKitPageView::installRemoteContentFilter() {
  static const char kRules[] =
      R"([{"trigger":{"url-filter":"^https?://"},"action":{"type":"block"}}])";
  char* folder = g_build_filename(g_get_user_cache_dir(), "quorvel", "content-filters", nullptr);
  WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(folder);
  g_free(folder);
  GBytes* rules = g_bytes_new_static(kRules, sizeof(kRules) - 1);
  webkit_user_content_filter_store_save(
      store, "block-remote", rules, nullptr, onFilterSaved,
      new FilterWait{WEBKIT_USER_CONTENT_MANAGER(g_object_ref(contentManager_)), filterGate_});
  g_bytes_unref(rules);
}

// Scripts go with their length: a NUL inside a text (a model may answer "\u0000") must not
// cut the script short.
void WebKitPageView::evaluate(const std::string& script) {
  webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, nullptr, nullptr);
}

void WebKitPageView::evaluate(const std::string& script, Completion done) {
  evaluateForValue(script, [done = std::move(done)](std::optional<std::string>,
                                                    std::optional<std::string> error) {
    if (done) done(std::move(error));
  });
}

void WebKitPageView::evaluateForValue(const std::string& script, ValueDone done) {
  webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, onEvaluated,
                                      new ValueDone(std::move(done)));
}

void WebKitPageView::addDocumentStartScript(const std::string& source) {
  WebKitUserScript* script =
      webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(contentManager_, script);
  webkit_user_script_unref(script);
}

void WebKitPageView::setMessageHandler(const std::string& name, MessageHandler handler) {
  bool known = handlers_.count(name) > 0;
  handlers_[name] = std::move(handler);
  if (known) return;
  std::string signal = "script-message-received::" + name;
  g_signal_connect_data(contentManager_, signal.c_str(), G_CALLBACK(onMessage),
                        new HandlerBinding{this, name}, freeBinding, GConnectFlags(0));
  webkit_user_content_manager_register_script_message_handler(contentManager_, name.c_str());
}

void WebKitPageView::deliverMessage(const std::string& name, WebKitJavascriptResult* result) {
  auto found = handlers_.find(name);
  if (found == handlers_.end() || !found->second) return;
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value || !jsc_value_is_object(value) || jsc_value_is_array(value)) return;
  char* text = jsc_value_to_json(value, 0);
  if (!text) return;
  auto body = nlohmann::json::parse(text, nullptr, false);
  g_free(text);
  if (body.is_object()) found->second(body);
}

void WebKitPageView::setTransparentBackground() {
  GdkRGBA clear = {0.0, 0.0, 0.0, 0.0};
  webkit_web_view_set_background_color(view_, &clear);
}

void WebKitPageView::loadFile(const std::string& path, const std::string& allowedDirectory) {
  if (char* folder = g_filename_to_uri(allowedDirectory.c_str(), nullptr, nullptr)) {
    allowedPrefix_ = std::string(folder) + "/";
    g_free(folder);
  }
  char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri) return;
  whenFiltered(
      [this, target = std::string(uri)] { webkit_web_view_load_uri(view_, target.c_str()); });
  g_free(uri);
}

void WebKitPageView::loadHTML(const std::string& html) {
  whenFiltered([this, html] { webkit_web_view_load_html(view_, html.c_str(), nullptr); });
}

// The latest load wins, as it would had both been started at once.
void WebKitPageView::whenFiltered(std::function<void()> load) {
  if (filterGate_->ready) {
    load();
  } else {
    filterGate_->pendingLoad = std::move(load);
  }
}

void WebKitPageView::setLoadFinishedHandler(std::function<void()> handler) {
  onLoadFinished_ = std::move(handler);
}

bool WebKitPageView::allowsNavigationTo(const std::string& uri) const {
  if (uri == "about:blank") return true;
  return !allowedPrefix_.empty() && uri.compare(0, allowedPrefix_.size(), allowedPrefix_) == 0;
}

void WebKitPageView::loadFinished() const {
  if (onLoadFinished_) onLoadFinished_();
}

std::shared_ptr<WebView> WebKitPageViewFactory::makeWebView() {
  auto view = std::make_shared<WebKitPageView>();
  std::erase_if(made_, [](const auto& weak) { return weak.expired(); });
  made_.push_back(view);
  return view;
}

std::shared_ptr<WebKitPageView> WebKitPageViewFactory::made(const WebView* view) const {
  for (const auto& weak : made_) {
    auto page = weak.lock();
    if (page && page.get() == view) return page;
  }
  return nullptr;
}

}  // namespace quorvel
