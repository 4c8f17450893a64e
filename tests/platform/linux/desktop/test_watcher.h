// A StatusNotifierWatcher of the tests' own, on a private connection to the test session bus,
// as a panel would run it. It records every RegisterStatusNotifierItem and can be stopped
// (its name vanishes) and started again.
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

class TestWatcher {
 public:
  TestWatcher() = default;
  ~TestWatcher() { stop(); }
  TestWatcher(const TestWatcher&) = delete;
  TestWatcher& operator=(const TestWatcher&) = delete;

  // Takes the watcher's name; true once the bus has granted it.
  bool start() {
    stop();
    connection_ = newPeerConnection();
    if (connection_ == nullptr) return false;
    static const char kXml[] = R"(<node>
      <interface name="org.kde.StatusNotifierWatcher">
        <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
        <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
        <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
        <property name="ProtocolVersion" type="i" access="read"/>
      </interface></node>)";
    info_ = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {onMethod, onProperty, nullptr, {nullptr}};
    objectId_ =
        g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                          info_->interfaces[0], &vtable, this, nullptr, nullptr);
    owned_ = false;
    ownerId_ = g_bus_own_name_on_connection(
        connection_, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer self) {
          static_cast<TestWatcher*>(self)->owned_ = true;
        },
        nullptr, this, nullptr);
    return runUntil([this] { return owned_; });
  }

  // Leaves the bus, as a panel that quits or crashes, and returns once the bus has let the
  // name go (its own connection's end is handled by the bus in its own time, so the next test
  // would otherwise still find this watcher).
  void stop() {
    if (connection_ == nullptr) return;
    g_bus_unown_name(ownerId_);
    g_dbus_connection_unregister_object(connection_, objectId_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
    g_dbus_node_info_unref(info_);
    connection_ = nullptr;
    owned_ = false;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return;
    runUntil([bus] {
      CallResult r;
      call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
           "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"), r);
      gboolean owned = TRUE;
      if (r.reply) g_variant_get(r.reply, "(b)", &owned);
      return r.reply != nullptr && !owned;
    });
    g_object_unref(bus);
  }

  // The items registered, in order, as "<service>" as the item passed it.
  const std::vector<std::string>& registered() const { return registered_; }
  GDBusConnection* connection() const { return connection_; }

 private:
  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* params, GDBusMethodInvocation* inv,
                       gpointer data) {
    auto* self = static_cast<TestWatcher*>(data);
    if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
      const gchar* service = nullptr;
      g_variant_get(params, "(&s)", &service);
      self->registered_.emplace_back(service);
    }
    g_dbus_method_invocation_return_value(inv, nullptr);
  }
  static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar* name, GError**, gpointer) {
    if (g_strcmp0(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    return g_variant_new_boolean(TRUE);
  }

  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  guint objectId_ = 0;
  guint ownerId_ = 0;
  bool owned_ = false;
  std::vector<std::string> registered_;
};

}  // namespace quorvel::testing
