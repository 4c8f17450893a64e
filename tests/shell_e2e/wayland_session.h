// A Wayland desktop for the end-to-end tests: weston on a socket in its own runtime folder,
// drawing into a window of the test session's X display (its X11 backend: unlike the headless
// one it has a seat, without which GTK and WebKit print criticals a real session never shows), and
// the real xdg-desktop-portal frontend on the test session bus with a GlobalShortcuts backend of
// the test's own (in this process, on a private connection) that records what was bound, can
// refuse, and presses shortcuts on demand. Both processes are stopped by their pids.
#pragma once

#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/desktop/desktop_session.h"

namespace quorvel::testing {

// Starts `args` with `env` over the test's environment; 0 when it could not start.
inline GPid spawnWith(const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<gchar*> argv;
  for (const auto& a : args) argv.push_back(const_cast<gchar*>(a.c_str()));
  argv.push_back(nullptr);
  gchar** environment = g_get_environ();
  for (const auto& [name, value] : env) {
    environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
  }
  GPid pid = 0;
  const bool ok =
      g_spawn_async(nullptr, argv.data(), environment,
                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                    nullptr, nullptr, &pid, nullptr);
  g_strfreev(environment);
  return ok ? pid : 0;
}

inline void stopProcess(GPid& pid) {
  if (pid == 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  g_spawn_close_pid(pid);
  pid = 0;
}

class Weston {
 public:
  ~Weston() {
    stopProcess(pid_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool start() {
    char pattern[] = "/tmp/quorvel-weston-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    pid_ = spawnWith({"weston", "--backend=x11-backend.so", "--socket=wayland-quorvel",
                      "--width=1024", "--height=768", "--use-pixman", "--idle-time=0",
                      "--no-config", "--log=" + dir_ + "/weston.log"},
                     {{"XDG_RUNTIME_DIR", dir_}});
    return pid_ != 0 && runUntil([this] { return std::filesystem::exists(socket()); }, 10.0);
  }
  // For WAYLAND_DISPLAY: an absolute path needs no shared runtime folder.
  std::string socket() const { return dir_ + "/wayland-quorvel"; }

 private:
  std::string dir_;
  GPid pid_ = 0;
};

class TestShortcutsPortal {
 public:
  struct Bound {
    std::string id, description, trigger;
    bool operator==(const Bound&) const = default;
  };

  ~TestShortcutsPortal() {
    stopProcess(frontend_);
    if (connection_ != nullptr) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    if (info_ != nullptr) g_dbus_node_info_unref(info_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // The backend first (the frontend reads which backends exist once, at its start), then the
  // frontend; true once the frontend owns its name.
  bool start(bool refuseBinding) {
    refuse_ = refuseBinding;
    char pattern[] = "/tmp/quorvel-portal-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    dir_ = pattern;
    std::ofstream(dir_ + "/quorvel-test.portal")
        << "[portal]\nDBusName=" << kBackendName
        << "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=quorvel-test\n";
    connection_ = newPeerConnection();
    if (connection_ == nullptr) return false;
    info_ = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {onMethod, onProperty, nullptr, {nullptr}};
    g_dbus_connection_register_object(connection_, kPath, info_->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    bool owned = false;
    g_bus_own_name_on_connection(
        connection_, kBackendName, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; },
        nullptr, &owned, nullptr);
    if (!runUntil([&] { return owned; })) return false;
    frontend_ =
        spawnWith({"/usr/libexec/xdg-desktop-portal"},
                  {{"XDG_DESKTOP_PORTAL_DIR", dir_}, {"XDG_CURRENT_DESKTOP", "quorvel-test"}});
    // Asked without calling the portal itself, which would start another one.
    return frontend_ != 0 && runUntil([this] { return frontendOnBus(); }, 15.0);
  }

  const std::vector<Bound>& bound() const { return bound_; }
  bool sessionCreated() const { return !session_.empty(); }

  // The compositor saw the shortcut's keys pressed.
  void press(const std::string& id) {
    g_dbus_connection_emit_signal(
        connection_, nullptr, kPath, "org.freedesktop.impl.portal.GlobalShortcuts", "Activated",
        g_variant_new("(ost@a{sv})", session_.c_str(), id.c_str(),
                      guint64(g_get_real_time() / 1000),
                      g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
        nullptr);
  }

 private:
  static constexpr char kBackendName[] = "org.freedesktop.impl.portal.desktop.quorveltest";
  static constexpr char kPath[] = "/org/freedesktop/portal/desktop";
  static constexpr char kXml[] = R"xml(<node>
    <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
      <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/>
        <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
        <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
      <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
        <arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
        <arg type="a{sv}" direction="in"/>
        <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
      <method name="ListShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
        <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
      <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
      <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
      <property name="version" type="u" access="read"/>
    </interface></node>)xml";

  bool frontendOnBus() {
    CallResult r;
    call(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
         "NameHasOwner", g_variant_new("(s)", "org.freedesktop.portal.Desktop"), r);
    gboolean owned = FALSE;
    if (r.reply) g_variant_get(r.reply, "(b)", &owned);
    return owned;
  }

  GVariant* boundShortcuts() const {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& b : bound_) {
      GVariantBuilder props;
      g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
      g_variant_builder_add(&props, "{sv}", "description",
                            g_variant_new_string(b.description.c_str()));
      g_variant_builder_add(&props, "{sv}", "trigger_description",
                            g_variant_new_string(b.trigger.c_str()));
      g_variant_builder_add(&list, "(sa{sv})", b.id.c_str(), &props);
    }
    return g_variant_builder_end(&list);
  }

  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* params, GDBusMethodInvocation* invocation,
                       gpointer data) {
    auto* self = static_cast<TestShortcutsPortal*>(data);
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE("a{sv}"));
    guint32 code = 0;
    const std::string name = method;
    if (name == "CreateSession") {
      const gchar* session = nullptr;
      g_variant_get_child(params, 1, "&o", &session);
      self->session_ = session;
      g_variant_builder_add(&results, "{sv}", "shortcuts", self->boundShortcuts());
    } else if (name == "BindShortcuts") {
      GVariantIter* shortcuts = nullptr;
      g_variant_get_child(params, 2, "a(sa{sv})", &shortcuts);
      const gchar* id = nullptr;
      GVariant* props = nullptr;
      while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &props)) {
        const gchar* description = "";
        const gchar* trigger = "";
        g_variant_lookup(props, "description", "&s", &description);
        g_variant_lookup(props, "preferred_trigger", "&s", &trigger);
        if (!self->refuse_) self->bound_.push_back({id, description, trigger});
        g_variant_unref(props);
      }
      g_variant_iter_free(shortcuts);
      code = self->refuse_ ? 1 : 0;  // 1: the user cancelled the dialog
      if (!self->refuse_)
        g_variant_builder_add(&results, "{sv}", "shortcuts", self->boundShortcuts());
    } else {
      g_variant_builder_add(&results, "{sv}", "shortcuts", self->boundShortcuts());
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ua{sv})", code, &results));
  }
  static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GError**, gpointer) {
    return g_variant_new_uint32(1);
  }

  std::string dir_;
  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  GPid frontend_ = 0;
  bool refuse_ = false;
  std::string session_;
  std::vector<Bound> bound_;
};

}  // namespace quorvel::testing
