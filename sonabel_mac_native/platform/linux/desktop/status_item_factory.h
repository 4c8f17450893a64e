// Chooses the tray item for this desktop.
//
// Implements: a StatusNotifierItem when a StatusNotifierWatcher owns its name on the session
// bus at start, otherwise an XEmbed tray icon (also when there is no session bus).
// Missing: the choice is made once; a watcher that starts later is not followed.
// Call after gtk_init, on the main thread.
#pragma once

#include <memory>

#include "platform/status_item.h"

namespace quorvel::tray {

std::unique_ptr<StatusItem> makeStatusItem();

}  // namespace quorvel::tray
