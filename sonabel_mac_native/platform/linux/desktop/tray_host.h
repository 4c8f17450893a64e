// Whether this session has anything that can show a tray item.
//
// Implements: true when a StatusNotifierWatcher owns its name on the session bus, or, on an
// X11 display, when a client owns the system tray selection (_NET_SYSTEM_TRAY_S<screen>) of
// the default screen. An XEmbed tray on Xwayland does not count for a GTK running on Wayland:
// GtkStatusIcon cannot reach it from there.
// Missing: the answer holds for the moment of the call; a host that starts later is not seen.
// Call after gtk_init, on the main thread.
#pragma once

namespace quorvel::tray {

bool trayHostPresent();

}  // namespace quorvel::tray
