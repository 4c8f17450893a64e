// Helpers for the tests that run inside scripts/with-test-session: GTK on the private X
// display, the main loop turned until something happens (with a bound), D-Bus calls that let
// the main loop run while they wait (the object called may live in this very process), and
// xdotool.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::testing {

inline bool startGtk() {
  static const bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}

// Turns the default main context until `done` holds or `seconds` have passed; true if done.
inline bool runUntil(const std::function<bool()>& done, double seconds = 10.0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  // A ticking source so that a blocking iteration wakes up to look at the clock.
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool ok = done();
  while (!ok && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    ok = done();
  }
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
  ~CallResult() {
    if (reply) g_variant_unref(reply);
  }
};

inline void call(GDBusConnection* bus, const char* dest, const char* path, const char* iface,
                 const char* method, GVariant* params, CallResult& out, double seconds = 5.0) {
  struct State {
    bool done = false;
    CallResult* out;
  } state{false, &out};
  g_dbus_connection_call(
      bus, dest, path, iface, method, params, nullptr, G_DBUS_CALL_FLAGS_NONE,
      static_cast<int>(seconds * 1000), nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* s = static_cast<State*>(data);
        GError* error = nullptr;
        s->out->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (error) {
          s->out->error = error->message;
          g_error_free(error);
        }
        s->done = true;
      },
      &state);
  if (!runUntil([&] { return state.done; }, seconds + 1.0)) out.error = "no answer";
}

// A property of an object on the bus, as a new reference, or null.
inline GVariant* getProperty(GDBusConnection* bus, const char* dest, const char* path,
                             const char* iface, const char* name) {
  CallResult r;
  call(bus, dest, path, "org.freedesktop.DBus.Properties", "Get",
       g_variant_new("(ss)", iface, name), r);
  if (!r.reply) return nullptr;
  GVariant* boxed = nullptr;
  g_variant_get(r.reply, "(v)", &boxed);
  return boxed;
}

// A second, private connection to the session bus: a separate peer, as a panel would be.
inline GDBusConnection* newPeerConnection() {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (address == nullptr) return nullptr;
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  return c;
}

// Runs a program to its end (xdotool returns as soon as it has sent its events); true on exit 0.
inline bool runProgram(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  gint status = 0;
  GError* error = nullptr;
  const bool ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                nullptr, nullptr, nullptr, &status, &error);
  if (error) g_error_free(error);
  return ran && g_spawn_check_wait_status(status, nullptr);
}

// Tests that share the session's global things (the F6 grab, the watcher's bus name, synthetic
// keys and clicks) run one at a time, also when ctest runs in parallel: each holds this lock, a
// queued name on the session bus, for its whole run. The bus releases it when the holder ends.
class DesktopLock {
 public:
  // The wait is long: with many tests in parallel, several holders may come first.
  explicit DesktopLock(double seconds = 540.0) {
    connection_ = newPeerConnection();
    if (connection_ == nullptr) return;
    ownerId_ = g_bus_own_name_on_connection(
        connection_, "org.quorvel.Tests.DesktopLock", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer self) {
          static_cast<DesktopLock*>(self)->held_ = true;
        },
        nullptr, this, nullptr);
    runUntil([this] { return held_; }, seconds);
  }
  ~DesktopLock() {
    if (connection_ == nullptr) return;
    g_bus_unown_name(ownerId_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  DesktopLock(const DesktopLock&) = delete;
  DesktopLock& operator=(const DesktopLock&) = delete;
  bool held() const { return held_; }

 private:
  GDBusConnection* connection_ = nullptr;
  guint ownerId_ = 0;
  bool held_ = false;
};

// A test that has the desktop to itself for its run: GTK started and the desktop lock held.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startGtk());
    ASSERT_TRUE(lock_.held());
  }
  DesktopLock lock_;
};

// ...that also talks to itself over the session bus: `bus_` for the object under test and
// `peer_`, a separate connection, for the panel's side.
class BusPeerTest : public DesktopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DesktopTest::SetUp());
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus_, nullptr);
    peer_ = newPeerConnection();
    ASSERT_NE(peer_, nullptr);
  }
  void TearDown() override {
    if (peer_) g_object_unref(peer_);
    if (bus_) g_object_unref(bus_);
  }
  GDBusConnection* bus_ = nullptr;
  GDBusConnection* peer_ = nullptr;
};

}  // namespace quorvel::testing
