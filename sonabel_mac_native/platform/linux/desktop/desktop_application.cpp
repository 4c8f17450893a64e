// DesktopApplication: uniqueness, remote requests, alerts and quitting on GTK (see
// desktop_application.h).
#include "platform/linux/desktop/desktop_application.h"

#include <gtk/gtk.h>

#include <cstring>

namespace quorvel {

namespace {

constexpr struct {
  const char* name;
  LaunchRequest request;
} kRequestActions[] = {
    {"reopen", LaunchRequest::Start},
    {"toggle", LaunchRequest::Toggle},
    {"show", LaunchRequest::Show},
};

}  // namespace

DesktopApplication::DesktopApplication()
    : application_(g_application_new("app.quorvel.Quorvel", G_APPLICATION_DEFAULT_FLAGS)) {
  for (const auto& entry : kRequestActions) {
    GSimpleAction* action = g_simple_action_new(entry.name, nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(onActivate), this);
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
    g_object_unref(action);
  }
  windowed_ = g_simple_action_new_stateful("windowed", nullptr, g_variant_new_boolean(FALSE));
  g_simple_action_set_enabled(windowed_, FALSE);
  g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(windowed_));
}

DesktopApplication::~DesktopApplication() {
  g_object_unref(windowed_);
  g_object_unref(application_);
}

bool DesktopApplication::registerAsPrimaryInstance() {
  GError* error = nullptr;
  if (!g_application_register(application_, nullptr, &error)) {
    g_error_free(error);
    return true;
  }
  return !g_application_get_is_remote(application_);
}

void DesktopApplication::setRequestHandler(std::function<void(LaunchRequest)> handler) {
  handler_ = std::move(handler);
}

void DesktopApplication::setWindowed(bool windowed) {
  g_simple_action_set_state(windowed_, g_variant_new_boolean(windowed));
}

void DesktopApplication::onActivate(GSimpleAction* action, GVariant*, gpointer data) {
  auto* self = static_cast<DesktopApplication*>(data);
  const char* name = g_action_get_name(G_ACTION(action));
  for (const auto& entry : kRequestActions) {
    if (std::strcmp(entry.name, name) == 0 && self->handler_) self->handler_(entry.request);
  }
}

bool DesktopApplication::forwardToPrimary(LaunchRequest request) {
  GActionGroup* remote = G_ACTION_GROUP(application_);
  for (const auto& entry : kRequestActions) {
    if (entry.request == request) g_action_group_activate_action(remote, entry.name, nullptr);
  }
  // The activation is a message without a reply: it must be on the wire before this process
  // ends.
  if (GDBusConnection* bus = g_application_get_dbus_connection(application_)) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  }
  bool windowed = false;
  if (GVariant* state = g_action_group_get_action_state(remote, "windowed")) {
    windowed = g_variant_get_boolean(state);
    g_variant_unref(state);
  }
  return windowed;
}

void DesktopApplication::showAlert(const std::string& title, const std::string& body,
                                   const std::string& button) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                             GTK_BUTTONS_NONE, "%s", title.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", body.c_str());
  gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), GTK_RESPONSE_OK);
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

void DesktopApplication::flushBus() {
  if (GDBusConnection* bus = g_application_get_dbus_connection(application_)) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  }
}

void DesktopApplication::quit() {
  if (gtk_main_level() > 0) gtk_main_quit();
}

}  // namespace quorvel
