// The desktop portal's GlobalShortcuts calls as D-Bus values: the arguments of CreateSession
// and BindShortcuts, the request object paths the portal answers on, and the reading of the
// answers. No I/O here.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>

namespace quorvel::portal {

inline constexpr char kBusName[] = "org.freedesktop.portal.Desktop";
inline constexpr char kObjectPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char kShortcutsInterface[] = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";

struct Shortcut {
  std::string id;
  std::string description;
  std::string preferredTrigger;
};

// "/org/freedesktop/portal/desktop/request/<sender>/<token>" for the unique name ":1.42".
std::string requestPath(const std::string& uniqueName, const std::string& token);
// Floating "(a{sv})" with handle_token and session_handle_token.
GVariant* createSessionArgs(const std::string& token, const std::string& sessionToken);
// Floating "(oa(sa{sv})sa{sv})" for one shortcut, no parent window.
GVariant* bindShortcutsArgs(const std::string& session, const Shortcut& shortcut,
                            const std::string& token);
// From a Response's "(ua{sv})": the session handle of a granted CreateSession.
std::optional<std::string> grantedSession(GVariant* response);
// From a Response's "(ua{sv})": whether BindShortcuts was granted with the shortcut `id` bound.
bool boundShortcut(GVariant* response, const std::string& id);

}  // namespace quorvel::portal
