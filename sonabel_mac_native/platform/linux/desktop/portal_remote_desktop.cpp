// The paste keystroke on Wayland through the desktop portal's remote desktop keyboard
// (org.freedesktop.portal.RemoteDesktop; see desktop_text_paster.h). The session is made at the
// first paste (CreateSession, SelectDevices with the keyboard, Start: the desktop may ask the
// user to allow it) and kept for the rest of the run; a refusal is not asked again in that
// run. Ctrl+V is sent as key symbols a moment after the popover closed, once the compositor has
// given the focus back to the window below.
// Missing: modifier keys the user holds cannot be seen, so they are not released; the portal
// is not started when it is not already running.
#include <gio/gio.h>

#include <iterator>
#include <string>
#include <utility>

#include "platform/linux/desktop/desktop_text_paster.h"

namespace quorvel {

namespace {

inline constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
inline constexpr guint kFocusSettleMs = 150;
inline constexpr guint32 kKeyboard = 1;

class PortalKeystroke final : public PasteKeystroke {
 public:
  ~PortalKeystroke() override {
    if (bus_) g_object_unref(bus_);
  }

  void send(std::function<void(bool)> done) override {
    if (refused_) return done(false);
    if (!session_.empty()) return typeLater(std::move(done));
    if (!bus_) bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus_) return done(false);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string("quorvel_paste"));
    request("CreateSession", "create", &options, nullptr,
            [this, done = std::move(done)](GVariant* results) mutable {
              const gchar* handle = nullptr;
              if (!results || !g_variant_lookup(results, "session_handle", "&s", &handle)) {
                return fail(std::move(done));
              }
              std::string session = handle;
              GVariantBuilder select;
              g_variant_builder_init(&select, G_VARIANT_TYPE("a{sv}"));
              g_variant_builder_add(&select, "{sv}", "types", g_variant_new_uint32(kKeyboard));
              request("SelectDevices", "select", &select, session.c_str(),
                      [this, session, done = std::move(done)](GVariant* selected) mutable {
                        if (!selected) return fail(std::move(done));
                        start(session, std::move(done));
                      });
            });
  }

 private:
  using Answer = std::function<void(GVariant* results)>;  // null: refused or failed

  void fail(std::function<void(bool)> done) {
    refused_ = true;
    done(false);
  }

  void start(const std::string& session, std::function<void(bool)> done) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    request("Start", "start", &options, session.c_str(),
            [this, session, done = std::move(done)](GVariant* results) mutable {
              guint32 devices = 0;
              if (!results || !g_variant_lookup(results, "devices", "u", &devices) ||
                  !(devices & kKeyboard)) {
                return fail(std::move(done));
              }
              session_ = session;
              typeLater(std::move(done));
            });
  }

  // Calls `method` with its Request object's Response awaited; `session` goes first when given
  // (Start also takes a parent window, empty here).
  void request(const char* method, const char* token, GVariantBuilder* options, const char* session,
               Answer answer) {
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token));
    std::string sender = g_dbus_connection_get_unique_name(bus_) + 1;
    for (char& c : sender) {
      if (c == '.') c = '_';
    }
    const std::string path = std::string(kPortalPath) + "/request/" + sender + "/" + token;
    struct Pending {
      GDBusConnection* bus;
      guint subscription = 0;
      Answer answer;
    };
    auto* pending = new Pending{bus_, 0, std::move(answer)};
    pending->subscription = g_dbus_connection_signal_subscribe(
        bus_, kPortal, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection* bus, const gchar*, const gchar*, const gchar*, const gchar*,
           GVariant* parameters, gpointer data) {
          auto* pending = static_cast<Pending*>(data);
          guint32 code = 2;
          GVariant* results = nullptr;
          g_variant_get(parameters, "(u@a{sv})", &code, &results);
          g_dbus_connection_signal_unsubscribe(bus, pending->subscription);
          pending->answer(code == 0 ? results : nullptr);
          g_variant_unref(results);
          delete pending;
        },
        pending, nullptr);
    GVariant* parameters =
        std::string(method) == "CreateSession" ? g_variant_new("(a{sv})", options)
        : std::string(method) == "Start"       ? g_variant_new("(osa{sv})", session, "", options)
                                               : g_variant_new("(oa{sv})", session, options);
    g_dbus_connection_call(
        bus_, kPortal, kPortalPath, kRemoteDesktop, method, parameters, G_VARIANT_TYPE("(o)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* pending = static_cast<Pending*>(data);
          GVariant* reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
          if (reply) {
            g_variant_unref(reply);
            return;
          }
          // No portal, or one without a remote desktop: no Response will come.
          g_dbus_connection_signal_unsubscribe(pending->bus, pending->subscription);
          pending->answer(nullptr);
          delete pending;
        },
        pending);
  }

  // The portal handles its calls on several threads: each key waits for the previous one's
  // answer, or the application could see them out of order.
  struct Typing {
    PortalKeystroke* self;
    std::function<void(bool)> done;
    size_t next = 0;
  };
  static constexpr std::pair<gint32, guint32> kPaste[] = {
      {0xffe3, 1}, {0x76, 1}, {0x76, 0}, {0xffe3, 0}};  // Control_L, v: press, release

  void typeLater(std::function<void(bool)> done) {
    g_timeout_add(
        kFocusSettleMs,
        [](gpointer data) -> gboolean {
          typeNext(static_cast<Typing*>(data));
          return G_SOURCE_REMOVE;
        },
        new Typing{this, std::move(done)});
  }

  static void typeNext(Typing* typing) {
    if (typing->next == std::size(kPaste)) {
      typing->done(true);
      delete typing;
      return;
    }
    auto [symbol, state] = kPaste[typing->next++];
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_dbus_connection_call(
        typing->self->bus_, kPortal, kPortalPath, kRemoteDesktop, "NotifyKeyboardKeysym",
        g_variant_new("(oa{sv}iu)", typing->self->session_.c_str(), &options, symbol, state),
        nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          if (GVariant* reply =
                  g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr)) {
            g_variant_unref(reply);
          }
          typeNext(static_cast<Typing*>(data));
        },
        typing);
  }

  GDBusConnection* bus_ = nullptr;
  std::string session_;
  bool refused_ = false;
};

}  // namespace

std::unique_ptr<PasteKeystroke> makePortalKeystroke() {
  return std::make_unique<PortalKeystroke>();
}

}  // namespace quorvel
