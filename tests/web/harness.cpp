#include "web/harness.h"

#include <webkit2/webkit2.h>

#include "web/page_calls.h"

namespace quorvel::testing {

PageHarness::PageHarness() {
  startGtk();
  // Ephemeral: every test starts with empty local storage and leaves nothing on disk.
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  auto onMessage = +[](WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
    char* json = jsc_value_to_json(webkit_javascript_result_get_js_value(result), 0);
    static_cast<PageHarness*>(self)->messages.push_back(
        json ? nlohmann::json::parse(json, nullptr, false) : nlohmann::json());
    g_free(json);
  };
  g_signal_connect(content, "script-message-received::pywebview", G_CALLBACK(onMessage), this);
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
  // Handled: a headless page would otherwise wait on the dialog forever.
  auto onDialog = +[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) -> gboolean {
    static_cast<PageHarness*>(self)->alerts.push_back(webkit_script_dialog_get_message(dialog));
    return TRUE;
  };
  g_signal_connect(view_, "script-dialog", G_CALLBACK(onDialog), this);
  auto onLoad = +[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<PageHarness*>(self)->loaded = true;
  };
  g_signal_connect(view_, "load-changed", G_CALLBACK(onLoad), this);
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window_), 440, 420);
  gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
  gtk_widget_show_all(window_);
}

PageHarness::~PageHarness() {
  gtk_widget_destroy(window_);
  drainMainLoop();
}

bool PageHarness::load(bool productPage) {
  loaded = false;
  if (productPage) {
    gchar* uri = g_filename_to_uri(QUORVEL_BUNDLE_DIR "/ui.html", nullptr, nullptr);
    webkit_web_view_load_uri(view_, uri);
    g_free(uri);
  } else {
    webkit_web_view_load_html(view_, "<!doctype html><body></body>", "file:///");
  }
  return runUntil([this] { return loaded; }, 20.0);
}

ScriptOutcome PageHarness::evaluate(const std::string& script) {
  std::pair<bool, ScriptOutcome> pending;
  auto done = +[](GObject* source, GAsyncResult* res, gpointer data) {
    auto& [finished, outcome] = *static_cast<std::pair<bool, ScriptOutcome>*>(data);
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
    // A value the engine cannot hand back (a node, a promise) still means the script ran.
    outcome.ok = !error || g_error_matches(error, WEBKIT_JAVASCRIPT_ERROR,
                                           WEBKIT_JAVASCRIPT_ERROR_INVALID_RESULT);
    if (!outcome.ok) outcome.error = error->message;
    if (value && !jsc_value_is_undefined(value)) {
      char* json = jsc_value_to_json(value, 0);
      if (json) outcome.value = nlohmann::json::parse(json, nullptr, false);
      g_free(json);
    }
    g_clear_error(&error);
    g_clear_object(&value);
    finished = true;
  };
  GCancellable* cancel = g_cancellable_new();
  webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, cancel, done, &pending);
  if (!runUntil([&] { return pending.first; })) {
    // The callback still points at pending: cancelling makes it land at once.
    g_cancellable_cancel(cancel);
    runUntil([&] { return pending.first; });
    pending.second.error = "timed out";
  }
  g_object_unref(cancel);
  return pending.second;
}

nlohmann::json PageHarness::value(const std::string& script) {
  ScriptOutcome outcome = evaluate(script);
  if (!outcome.ok) throw std::runtime_error("script failed: " + outcome.error);
  return outcome.value;
}

void PageHarness::clickAt(double x, double y) {
  GdkWindow* target = gtk_widget_get_window(GTK_WIDGET(view_));
  GdkDevice* pointer =
      gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(target));
    event->button.x = x;
    event->button.y = y;
    event->button.button = 1;
    gdk_event_set_device(event, pointer);
    gtk_widget_event(GTK_WIDGET(view_), event);
    gdk_event_free(event);
  }
  settle();
}

std::optional<std::string> PageHarness::clipboardText() {
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  std::optional<std::string> out;
  if (text) out = text;
  g_free(text);
  return out;
}

}  // namespace quorvel::testing
