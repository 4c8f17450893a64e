// The portal's global shortcuts; see portal_global_shortcuts.h.
#include "platform/linux/desktop/portal_global_shortcuts.h"

#include <cstring>
#include <utility>

#include "platform/linux/desktop/portal_shortcuts_wire.h"

namespace quorvel {

namespace {

constexpr char kShortcutId[] = "toggle-recording";
constexpr char kShortcutDescription[] = "Start or stop dictation";

// What request() keeps between the call and its Response.
struct Pending {
  PortalGlobalShortcuts* self;
  void (*then)(PortalGlobalShortcuts*, GVariant*);
  bool answered = false;
};

}  // namespace

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
  if (bus_ == nullptr) return;
  if (responseSubscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_, responseSubscription_);
  if (activatedSubscription_ != 0) {
    g_dbus_connection_signal_unsubscribe(bus_, activatedSubscription_);
  }
  g_object_unref(bus_);
}

int PortalGlobalShortcuts::registerHotKey(const std::string&, std::function<void()>) {
  return kAnswersLater;
}

void PortalGlobalShortcuts::requestHotKey(const std::string& keyName, std::function<void()> onPress,
                                          std::function<void(int status)> onResult) {
  if (requested_) {
    onResult(kAlreadyRegistered);
    return;
  }
  requested_ = true;
  trigger_ = keyName;
  onPress_ = std::move(onPress);
  onResult_ = std::move(onResult);
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus_ == nullptr) {
    finish(kPortalAbsent);
    return;
  }
  request("CreateSession", portal::createSessionArgs("quorvel_session", "quorvel"),
          "quorvel_session", onSessionCreated);
}

void PortalGlobalShortcuts::request(const char* method, GVariant* args, const std::string& token,
                                    void (*then)(PortalGlobalShortcuts*, GVariant*)) {
  // The portal may answer before the call returns: listen first.
  const std::string path = portal::requestPath(g_dbus_connection_get_unique_name(bus_), token);
  auto* pending = new Pending{this, then};
  responseSubscription_ = g_dbus_connection_signal_subscribe(
      bus_, portal::kBusName, portal::kRequestInterface, "Response", path.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection* bus, const char*, const char*, const char*, const char*,
         GVariant* parameters, gpointer data) {
        auto* p = static_cast<Pending*>(data);
        if (p->answered) return;
        p->answered = true;
        g_dbus_connection_signal_unsubscribe(bus, p->self->responseSubscription_);
        p->self->responseSubscription_ = 0;
        p->then(p->self, parameters);
      },
      pending, [](gpointer data) { delete static_cast<Pending*>(data); });
  g_dbus_connection_call(
      bus_, portal::kBusName, portal::kObjectPath, portal::kShortcutsInterface, method, args,
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<PortalGlobalShortcuts*>(data);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply != nullptr) {
          g_variant_unref(reply);
          return;
        }
        g_error_free(error);
        if (self->responseSubscription_ != 0) {
          g_dbus_connection_signal_unsubscribe(self->bus_, self->responseSubscription_);
          self->responseSubscription_ = 0;
          self->finish(kPortalAbsent);
        }
      },
      this);
}

void PortalGlobalShortcuts::onSessionCreated(PortalGlobalShortcuts* self, GVariant* response) {
  auto session = portal::grantedSession(response);
  if (!session) {
    self->finish(kRefused);
    return;
  }
  self->session_ = *session;
  self->activatedSubscription_ = g_dbus_connection_signal_subscribe(
      self->bus_, portal::kBusName, portal::kShortcutsInterface, "Activated", portal::kObjectPath,
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
         gpointer data) {
        auto* me = static_cast<PortalGlobalShortcuts*>(data);
        // Sent to every client of the portal: only this session's shortcut counts. (GLib's
        // arg0 filter matches strings only, not this object path.)
        const gchar* session = nullptr;
        const gchar* id = nullptr;
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})"))) return;
        g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
        if (me->session_ == session && std::strcmp(id, kShortcutId) == 0 && me->onPress_) {
          me->onPress_();
        }
      },
      self, nullptr);
  portal::Shortcut shortcut{kShortcutId, kShortcutDescription, self->trigger_};
  self->request("BindShortcuts",
                portal::bindShortcutsArgs(self->session_, shortcut, "quorvel_bind"), "quorvel_bind",
                onBound);
}

void PortalGlobalShortcuts::onBound(PortalGlobalShortcuts* self, GVariant* response) {
  self->finish(portal::boundShortcut(response, kShortcutId) ? 0 : kRefused);
}

void PortalGlobalShortcuts::finish(int status) {
  if (auto done = std::exchange(onResult_, nullptr)) done(status);
}

}  // namespace quorvel
