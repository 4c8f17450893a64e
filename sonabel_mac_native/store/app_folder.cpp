// Moving the files of earlier versions into the app folder; see app_folder.h.
#include "store/app_folder.h"

#include "store/json_file.h"

namespace quorvel {

void settleAppFolder(const HomeDirectory& home, FileSystem& files, Console& console) {
  const std::string folder = home.appFolder();
  const std::string legacy = home.legacyAppFolder();
  if (files.exists(folder)) return;
  if (!files.exists(legacy)) {
    files.createDirectories(folder, kPrivateDirectoryMode);
    return;
  }
  files.createDirectories(parentDirectory(folder), kPrivateDirectoryMode);
  if (files.moveFolder(legacy, folder, kPrivateDirectoryMode)) {
    console.line("[Quorvel] Moved " + legacy + " to " + folder);
  } else {
    // The old files stay untouched; the user can move them by hand.
    console.line("[Quorvel] Could not move " + legacy + " to " + folder +
                 "; move its files there by hand to keep them");
  }
}

}  // namespace quorvel
