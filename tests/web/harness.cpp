#include "web/harness.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <filesystem>

#include "web/page_calls.h"

namespace quorvel::test {
namespace {

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  char* json = jsc_value_to_json(value, 0);
  static_cast<PageHarness*>(self)->recordMessage(json ? nlohmann::json::parse(json, nullptr, false)
                                                      : nlohmann::json());
  g_free(json);
}

gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
  static_cast<PageHarness*>(self)->recordAlert(webkit_script_dialog_get_message(dialog));
  return TRUE;  // handled: a headless page would otherwise wait on the dialog forever
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  if (event == WEBKIT_LOAD_FINISHED) static_cast<PageHarness*>(self)->markLoaded();
}

gboolean wake(gpointer) {
  return G_SOURCE_CONTINUE;
}

struct Pending {
  bool done = false;
  ScriptOutcome outcome;
  cairo_surface_t* surface = nullptr;
};

void onEvaluated(GObject* source, GAsyncResult* res, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
  if (error) {
    // A value the engine cannot hand back (a node, a promise) still means the script ran.
    pending->outcome.ok = error->domain == WEBKIT_JAVASCRIPT_ERROR &&
                          error->code == WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT;
    if (!pending->outcome.ok) pending->outcome.error = error->message;
    g_error_free(error);
  } else {
    pending->outcome.ok = true;
    char* json = jsc_value_is_undefined(value) ? nullptr : jsc_value_to_json(value, 0);
    if (json) pending->outcome.value = nlohmann::json::parse(json, nullptr, false);
    g_free(json);
    g_object_unref(value);
  }
  pending->done = true;
}

void onSnapshot(GObject* source, GAsyncResult* res, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  GError* error = nullptr;
  pending->surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), res, &error);
  if (error) {
    pending->outcome.error = error->message;
    g_error_free(error);
  }
  pending->done = true;
}

}  // namespace

std::string bundlePagePath() {
  return std::string(QUORVEL_BUNDLE_DIR) + "/ui.html";
}

std::string screenshotDir() {
  const std::string dir = std::string(QUORVEL_BINARY_DIR) + "/screenshots";
  std::filesystem::create_directories(dir);
  return dir;
}

PageHarness::PageHarness() {
  gtk_init_check(nullptr, nullptr);
  // Ephemeral: every test starts with empty local storage and leaves nothing on disk.
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  g_signal_connect(content, "script-message-received::pywebview", G_CALLBACK(onScriptMessage),
                   this);
  webkit_user_content_manager_register_script_message_handler(content, "pywebview");
  WebKitUserScript* shim =
      webkit_user_script_new(page::bridgeShim().c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, shim);
  webkit_user_script_unref(shim);

  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                       "user-content-manager", content, nullptr));
  g_object_unref(content);
  g_object_unref(context);
  g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window_), 440, 420);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  gtk_widget_show_all(window_);
}

PageHarness::~PageHarness() {
  if (window_) gtk_widget_destroy(window_);
  window_ = nullptr;
  view_ = nullptr;
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

bool PageHarness::waitForLoad() {
  return waitFor([this] { return loaded_; }, std::chrono::seconds(20));
}

bool PageHarness::loadBundlePage() {
  loaded_ = false;
  gchar* uri = g_filename_to_uri(bundlePagePath().c_str(), nullptr, nullptr);
  webkit_web_view_load_uri(view_, uri);
  g_free(uri);
  return waitForLoad();
}

bool PageHarness::loadBlank() {
  loaded_ = false;
  webkit_web_view_load_html(view_, "<!doctype html><html><body></body></html>", "file:///");
  return waitForLoad();
}

ScriptOutcome PageHarness::evaluate(const std::string& script) {
  Pending pending;
  GCancellable* cancel = g_cancellable_new();
  webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, cancel, onEvaluated, &pending);
  if (!waitFor([&] { return pending.done; })) {
    // The callback still points at pending: cancelling makes it land at once.
    g_cancellable_cancel(cancel);
    while (!pending.done) g_main_context_iteration(nullptr, TRUE);
    pending.outcome.ok = false;
    pending.outcome.error = "timed out";
  }
  g_object_unref(cancel);
  return pending.outcome;
}

nlohmann::json PageHarness::value(const std::string& script) {
  ScriptOutcome outcome = evaluate(script);
  if (!outcome.ok) throw std::runtime_error("script failed: " + outcome.error);
  return outcome.value;
}

bool PageHarness::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  const guint ticker = g_timeout_add(20, wake, nullptr);
  while (!pred() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(ticker);
  return pred();
}

void PageHarness::settle() {
  // A round trip through the web process: messages posted before it have arrived after it.
  if (view_ && window_) evaluate("0");
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

void PageHarness::clickAt(double x, double y) {
  GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(view_));
  GdkDevice* pointer =
      gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  for (GdkEventType type : {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    if (type == GDK_MOTION_NOTIFY) {
      event->motion.window = GDK_WINDOW(g_object_ref(target));
      event->motion.x = x;
      event->motion.y = y;
      event->motion.time = GDK_CURRENT_TIME;
    } else {
      event->button.window = GDK_WINDOW(g_object_ref(target));
      event->button.x = x;
      event->button.y = y;
      event->button.button = 1;
      event->button.time = GDK_CURRENT_TIME;
    }
    gdk_event_set_device(event, pointer);
    gtk_widget_event(GTK_WIDGET(view_), event);
    gdk_event_free(event);
  }
  settle();
}

std::optional<std::string> PageHarness::clipboardText() {
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  if (!text) return std::nullopt;
  std::string out(text);
  g_free(text);
  return out;
}

std::optional<std::pair<int, int>> PageHarness::snapshot(const std::string& pngPath) {
  Pending pending;
  GCancellable* cancel = g_cancellable_new();
  webkit_web_view_get_snapshot(view_, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                               cancel, onSnapshot, &pending);
  if (!waitFor([&] { return pending.done; }, std::chrono::seconds(20))) {
    g_cancellable_cancel(cancel);
    while (!pending.done) g_main_context_iteration(nullptr, TRUE);
  }
  g_object_unref(cancel);
  if (!pending.surface) return std::nullopt;
  const bool written =
      cairo_surface_write_to_png(pending.surface, pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
  const std::pair<int, int> size{cairo_image_surface_get_width(pending.surface),
                                 cairo_image_surface_get_height(pending.surface)};
  cairo_surface_destroy(pending.surface);
  if (!written) return std::nullopt;
  return size;
}

}  // namespace quorvel::test
