// The folder that holds every file Quorvel keeps (config.json, device_id, history.json,
// usage.json, the set-aside copies and models/): <config home>/quorvel, owner only.
#pragma once

#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/home_directory.h"

namespace quorvel {

// Called once at start, before anything reads a file. When the folder does not exist yet and
// the one earlier versions used does, that one is moved over whole (and a console line says
// so); when both exist the current folder wins and the old one is left as it is. Otherwise the
// folder is created, so that it is there from the first run on.
void settleAppFolder(const HomeDirectory& home, FileSystem& files, Console& console);

}  // namespace quorvel
