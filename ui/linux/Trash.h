// Moving files to the user's trash, without dialogs: the desktop-services layer puts its
// confirmation, progress and failure report around this.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

struct TrashFailure {
  std::string path;    // as given (raw bytes)
  std::string reason;  // UTF-8, the platform's own words, the file named as the window shows it
};

// The paths of a list in which each path is followed by one NUL and the list ends with one more
// NUL. An empty entry ends the list; a last path without its NUL still counts.
std::vector<std::string> SplitNulList(std::string_view list);

// Called before each file and once more at the end with done == total; returning false stops
// before the next file (the files not reached stay where they are and are not failures).
using TrashProgress = std::function<bool(std::size_t done, std::size_t total)>;

// Moves each file (or folder) to the user's trash, where it can be restored from. Nothing is ever
// deleted outright: a file that cannot be trashed stays and is returned as a failure. A path that
// repeats an earlier one of the same call is skipped, since its file has already gone.
std::vector<TrashFailure> TrashFiles(const std::vector<std::string>& paths,
                                     const TrashProgress& progress = {});

// The folder of the home trash, where GLib puts what is trashed from the home's volume.
std::string HomeTrashFolder();

// True when name, in folder, is where trashed files of a whole volume are kept: ".Trash" or
// ".Trash-" and a user id, in the top folder of a mounted volume.
bool IsVolumeTrashFolder(const std::string& folder, std::string_view name);

}  // namespace tavrin
