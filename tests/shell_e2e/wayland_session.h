// A Wayland desktop for the end-to-end tests: weston on a socket in its own runtime folder,
// drawing into a window of the test session's X display (its X11 backend: unlike the headless
// one it has a seat, without which GTK and WebKit print criticals a real session never shows), and
// the real xdg-desktop-portal frontend on the test session bus with a GlobalShortcuts backend of
// the test's own (in this process, on a private connection) that records what was bound, can
// refuse, and presses shortcuts on demand. Both processes are stopped by their pids.
#pragma once

#include <gio/gio.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell_e2e/quorvel_process.h"

namespace quorvel::testing {

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
    return frontend_ != 0 &&
           runUntil([] { return nameOwned("org.freedesktop.portal.Desktop"); }, 15.0);
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
  // What the frontend calls; it emits nothing it would have to know of in advance.
  static constexpr char kXml[] = R"xml(<node>
    <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
      <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/>
        <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
        <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
      <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
        <arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
        <arg type="a{sv}" direction="in"/>
        <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
      <property name="version" type="u" access="read"/>
    </interface></node>)xml";

  static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* params, GDBusMethodInvocation* invocation,
                       gpointer data) {
    auto* self = static_cast<TestShortcutsPortal*>(data);
    const bool bind = std::string(method) == "BindShortcuts";
    if (bind && !self->refuse_) {
      GVariantIter* shortcuts = nullptr;
      g_variant_get_child(params, 2, "a(sa{sv})", &shortcuts);
      const gchar* id = nullptr;
      GVariant* props = nullptr;
      while (g_variant_iter_next(shortcuts, "(&s@a{sv})", &id, &props)) {
        const gchar *description = "", *trigger = "";
        g_variant_lookup(props, "description", "&s", &description);
        g_variant_lookup(props, "preferred_trigger", "&s", &trigger);
        self->bound_.push_back({id, description, trigger});
        g_variant_unref(props);
      }
      g_variant_iter_free(shortcuts);
    } else if (!bind) {
      const gchar* session = nullptr;
      g_variant_get_child(params, 1, "&o", &session);
      self->session_ = session;
    }
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& b : self->bound_) {
      g_variant_builder_add_parsed(&list,
                                   "(%s, {'description': <%s>, 'trigger_description': <%s>})",
                                   b.id.c_str(), b.description.c_str(), b.trigger.c_str());
    }
    // Response 1: the user cancelled the dialog.
    g_dbus_method_invocation_return_value(
        invocation,
        g_variant_new_parsed("(%u, {'shortcuts': <%@a(sa{sv})>})", guint32(bind && self->refuse_),
                             g_variant_builder_end(&list)));
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
