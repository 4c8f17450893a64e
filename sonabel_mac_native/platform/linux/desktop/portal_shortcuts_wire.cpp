// GlobalShortcuts values on the wire; see portal_shortcuts_wire.h.
#include "platform/linux/desktop/portal_shortcuts_wire.h"

#include <algorithm>

namespace quorvel::portal {

std::string requestPath(const std::string& uniqueName, const std::string& token) {
  std::string sender = uniqueName.starts_with(':') ? uniqueName.substr(1) : uniqueName;
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kObjectPath) + "/request/" + sender + "/" + token;
}

GVariant* createSessionArgs(const std::string& token, const std::string& sessionToken) {
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "session_handle_token",
                        g_variant_new_string(sessionToken.c_str()));
  return g_variant_new("(a{sv})", &options);
}

GVariant* bindShortcutsArgs(const std::string& session, const Shortcut& shortcut,
                            const std::string& token) {
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&properties, "{sv}", "description",
                        g_variant_new_string(shortcut.description.c_str()));
  g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                        g_variant_new_string(shortcut.preferredTrigger.c_str()));
  GVariantBuilder shortcuts;
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&shortcuts, "(sa{sv})", shortcut.id.c_str(), &properties);
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  return g_variant_new("(oa(sa{sv})sa{sv})", session.c_str(), &shortcuts, "", &options);
}

namespace {

// The results of a response whose code says granted (0), or null; the caller unrefs.
GVariant* grantedResults(GVariant* response) {
  if (response == nullptr || !g_variant_is_of_type(response, G_VARIANT_TYPE("(ua{sv})"))) {
    return nullptr;
  }
  guint32 code = 1;
  GVariant* results = nullptr;
  g_variant_get(response, "(u@a{sv})", &code, &results);
  if (code == 0) return results;
  g_variant_unref(results);
  return nullptr;
}

}  // namespace

std::optional<std::string> grantedSession(GVariant* response) {
  GVariant* results = grantedResults(response);
  if (results == nullptr) return std::nullopt;
  std::optional<std::string> session;
  // A string in the portals of Debian 12, an object path in some others.
  GVariant* handle = g_variant_lookup_value(results, "session_handle", nullptr);
  if (handle != nullptr && (g_variant_is_of_type(handle, G_VARIANT_TYPE_STRING) ||
                            g_variant_is_of_type(handle, G_VARIANT_TYPE_OBJECT_PATH))) {
    session = g_variant_get_string(handle, nullptr);
  }
  if (handle != nullptr) g_variant_unref(handle);
  g_variant_unref(results);
  return session;
}

bool boundShortcut(GVariant* response, const std::string& id) {
  GVariant* results = grantedResults(response);
  if (results == nullptr) return false;
  bool bound = false;
  GVariant* shortcuts = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
  for (gsize i = 0; shortcuts != nullptr && i < g_variant_n_children(shortcuts); ++i) {
    const gchar* name = nullptr;
    g_variant_get_child(shortcuts, i, "(&s@a{sv})", &name, nullptr);
    if (name != nullptr && id == name) bound = true;
  }
  if (shortcuts != nullptr) g_variant_unref(shortcuts);
  g_variant_unref(results);
  return bound;
}

}  // namespace quorvel::portal
