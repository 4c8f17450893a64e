// DesktopApplication: uniqueness, alerts and quitting on GTK (see desktop_application.h).
#include "platform/linux/desktop/desktop_application.h"

#include <gtk/gtk.h>

namespace quorvel {

DesktopApplication::DesktopApplication()
    : application_(g_application_new("app.quorvel.Quorvel", G_APPLICATION_DEFAULT_FLAGS)) {}

DesktopApplication::~DesktopApplication() {
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
