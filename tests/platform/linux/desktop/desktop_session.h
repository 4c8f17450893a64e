// Helpers for the tests that run inside scripts/with-test-session: GTK on the private X
// display, the main loop turned until something happens (with a bound), D-Bus calls that let
// the main loop run while they wait (the object called may live in this very process), a
// StatusNotifierWatcher and a dbusmenu reader as a panel runs them, and xdotool.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvel::testing {

inline bool startGtk() {
  static const bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}

// Turns the default main context until `done` holds or `seconds` have passed; true if done.
inline bool runUntil(const std::function<bool()>& done, double seconds = 10.0) {
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * 1e6);
  // A ticking source so that a blocking iteration wakes up to look at the clock.
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return TRUE; }, nullptr);
  bool ok = false;
  while (!(ok = done()) && g_get_monotonic_time() < deadline)
    g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return ok;
}

// Handles everything already waiting, without blocking.
inline void drainMainLoop() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

struct CallResult {
  GVariant* reply = nullptr;  // owned; null on error
  std::string error;
  bool done = false;
  ~CallResult() {
    if (reply) g_variant_unref(reply);
  }
};

// The call's own time-out ends it before the wait here does.
inline void call(GDBusConnection* bus, const char* dest, const char* path, const char* iface,
                 const char* method, GVariant* params, CallResult& out, double seconds = 5.0) {
  auto finish = [](GObject* source, GAsyncResult* result, gpointer data) {
    auto* out = static_cast<CallResult*>(data);
    GError* error = nullptr;
    out->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (error) out->error = error->message;
    g_clear_error(&error);
    out->done = true;
  };
  g_dbus_connection_call(bus, dest, path, iface, method, params, nullptr, G_DBUS_CALL_FLAGS_NONE,
                         static_cast<int>(seconds * 1000), nullptr, finish, &out);
  if (!runUntil([&] { return out.done; }, seconds + 1.0)) out.error = "no answer";
}

// A property of an object on the bus, as a new reference, or null.
inline GVariant* getProperty(GDBusConnection* bus, const char* dest, const char* path,
                             const char* iface, const char* name) {
  CallResult r;
  call(bus, dest, path, "org.freedesktop.DBus.Properties", "Get",
       g_variant_new("(ss)", iface, name), r);
  GVariant* boxed = nullptr;
  if (r.reply) g_variant_get(r.reply, "(v)", &boxed);
  return boxed;
}

// A second, private connection to the session bus: a separate peer, as a panel would be.
inline GDBusConnection* newPeerConnection() {
  const auto flags =
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusConnection* c =
      address ? g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr)
              : nullptr;
  g_free(address);
  return c;
}

// Runs a program to its end (xdotool returns as soon as it has sent its events); true on exit 0.
inline bool runProgram(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  gint status = 0;
  return g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      nullptr, &status, nullptr) &&
         g_spawn_check_wait_status(status, nullptr);
}

// A name-acquired or -vanished handler that sets a bool.
inline void setFlag(GDBusConnection*, const gchar*, gpointer flag) {
  *static_cast<bool*>(flag) = true;
}

// A well-known name owned on a private connection of its own, with one object served there
// when `xml` describes an interface: `onCall(method, params)` gives the reply (null for none).
// Name and object are gone with the connection.
class OwnedName {
 public:
  using OnCall = std::function<GVariant*(const gchar* method, GVariant* params)>;
  // The wait is long for the desktop lock: with many tests in parallel, several may come first.
  explicit OwnedName(const char* name, double seconds = 540.0, const char* path = nullptr,
                     const char* xml = nullptr, OnCall onCall = {})
      : onCall_(std::move(onCall)), connection_(newPeerConnection()) {
    if (connection_ == nullptr) return;
    if (xml) {
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
      static const GDBusInterfaceVTable vtable = {onMethod, nullptr, nullptr, {nullptr}};
      g_dbus_connection_register_object(connection_, path, node->interfaces[0], &vtable, this,
                                        nullptr, nullptr);
      g_dbus_node_info_unref(node);
    }
    ownerId_ = g_bus_own_name_on_connection(connection_, name, G_BUS_NAME_OWNER_FLAGS_NONE, setFlag,
                                            nullptr, &held_, nullptr);
    runUntil([this] { return held_; }, seconds);
  }
  ~OwnedName() {
    if (connection_ == nullptr) return;
    g_bus_unown_name(ownerId_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  OwnedName(const OwnedName&) = delete;
  OwnedName& operator=(const OwnedName&) = delete;
  bool held() const { return held_; }
  GDBusConnection* connection() const { return connection_; }

 private:
  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* params, GDBusMethodInvocation* invocation,
                       gpointer self) {
    GVariant* reply = static_cast<OwnedName*>(self)->onCall_(method, params);
    g_dbus_method_invocation_return_value(invocation, reply);
  }
  OnCall onCall_;
  GDBusConnection* connection_ = nullptr;
  guint ownerId_ = 0;
  bool held_ = false;
};

// Tests that share the session's global things (the F6 grab, the watcher's bus name, synthetic
// keys and clicks) run one at a time, also when ctest runs in parallel: each holds this queued
// name on the session bus for its whole run.
class DesktopLock : public OwnedName {
 public:
  DesktopLock() : OwnedName("org.quorvel.Tests.DesktopLock") {}
};

// A test that has the desktop to itself for its run: GTK started, the desktop lock held, `bus_`
// for the object under test and `peer_`, a separate connection, for the panel's side.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(startGtk() && lock_.held() && bus_ && peer_); }
  void TearDown() override {
    g_clear_object(&peer_);
    g_clear_object(&bus_);
  }
  DesktopLock lock_;
  GDBusConnection* bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusConnection* peer_ = newPeerConnection();
};

// A StatusNotifierWatcher of the tests' own, as a panel runs it: it records every
// RegisterStatusNotifierItem and can be stopped (its name vanishes) and started again.
class TestWatcher {
 public:
  ~TestWatcher() { stop(); }
  // Takes the watcher's name; true once the bus has granted it.
  bool start() {
    stop();
    name_ = std::make_unique<OwnedName>(
        kName, 10.0, "/StatusNotifierWatcher",
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "</interface></node>",
        [this](const gchar*, GVariant* params) -> GVariant* {
          const gchar* service = nullptr;
          g_variant_get(params, "(&s)", &service);
          registered_.emplace_back(service);
          return nullptr;
        });
    return name_->held();
  }
  // Leaves the bus, as a panel that quits, and returns once the bus has let the name go (the
  // connection's end is handled in the bus's own time; the next test would still find it).
  void stop() {
    if (!name_) return;
    name_.reset();
    bool gone = false;
    const guint watch = g_bus_watch_name(G_BUS_TYPE_SESSION, kName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                         nullptr, setFlag, &gone, nullptr);
    runUntil([&] { return gone; });
    g_bus_unwatch_name(watch);
  }
  // The services registered, in order, as the items passed them.
  const std::vector<std::string>& registered() const { return registered_; }

 private:
  static constexpr char kName[] = "org.kde.StatusNotifierWatcher";
  std::unique_ptr<OwnedName> name_;
  std::vector<std::string> registered_;
};

// A com.canonical.dbusmenu node as a panel reads it with GetLayout.
struct MenuNode {
  int id = 0;
  std::string label, row;  // row: "label", "label [x]" or "label [ ]" with a check box, "-"
  std::vector<MenuNode> children;

  const MenuNode* child(const std::string& withLabel) const {
    for (const MenuNode& c : children) {
      if (c.label == withLabel) return &c;
    }
    return nullptr;
  }
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (const MenuNode& c : children) out.push_back(c.row);
    return out;
  }
};

inline MenuNode parseMenuNode(GVariant* node) {
  MenuNode out;
  GVariant *props = nullptr, *children = nullptr;
  g_variant_get(node, "(i@a{sv}@av)", &out.id, &props, &children);
  const gchar *label = "", *type = "", *toggle = "";
  gint32 state = 0;
  g_variant_lookup(props, "label", "&s", &label);
  g_variant_lookup(props, "type", "&s", &type);
  g_variant_lookup(props, "toggle-type", "&s", &toggle);
  g_variant_lookup(props, "toggle-state", "i", &state);
  out.label = label;
  out.row = *toggle                          ? out.label + (state == 1 ? " [x]" : " [ ]")
            : g_str_equal(type, "separator") ? "-"
                                             : out.label;
  GVariantIter iter;
  GVariant* child = nullptr;
  g_variant_iter_init(&iter, children);
  while (g_variant_iter_loop(&iter, "v", &child)) out.children.push_back(parseMenuNode(child));
  g_variant_unref(props);
  g_variant_unref(children);
  return out;
}

// A com.canonical.dbusmenu call; true when it was answered without an error.
inline bool menuCall(GDBusConnection* peer, const std::string& dest, const std::string& path,
                     const char* method, GVariant* params) {
  CallResult r;
  call(peer, dest.c_str(), path.c_str(), "com.canonical.dbusmenu", method, params, r);
  return r.reply != nullptr;
}

// The whole tree under the root; `ok` false when the menu could not be read. Retries while the
// menu is not yet on the bus (the server exports it once its bus connection is ready).
inline MenuNode getMenuLayout(GDBusConnection* peer, const std::string& dest,
                              const std::string& path, bool& ok) {
  MenuNode root;
  ok = runUntil([&] {
    CallResult r;
    const gchar* allProperties[] = {nullptr};
    call(peer, dest.c_str(), path.c_str(), "com.canonical.dbusmenu", "GetLayout",
         g_variant_new("(ii^as)", 0, -1, allProperties), r);
    if (r.reply == nullptr) return false;
    GVariant* layout = g_variant_get_child_value(r.reply, 1);
    root = parseMenuNode(layout);
    g_variant_unref(layout);
    return true;
  });
  return root;
}

inline bool sendMenuEvent(GDBusConnection* peer, const std::string& dest, const std::string& path,
                          int id, const char* event) {
  return menuCall(peer, dest, path, "Event",
                  g_variant_new("(isvu)", id, event, g_variant_new_int32(0), 0u));
}

inline bool sendAboutToShow(GDBusConnection* peer, const std::string& dest, const std::string& path,
                            int id) {
  return menuCall(peer, dest, path, "AboutToShow", g_variant_new("(i)", id));
}

}  // namespace quorvel::testing
