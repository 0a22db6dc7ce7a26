#include "Trash.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>

#include "TextCodec.h"

namespace tavrin {

namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

void ReplaceEvery(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// GLib's own words for why the file could not be trashed, in the user's language where GLib
// has a translation. GLib names the file its own way (bytes it cannot decode as U+FFFD, a line
// break as it is); the name is put the way the window shows names everywhere else.
std::string TrashOne(const std::string& path) {
  // An empty path would name the current folder.
  if (path.empty()) return "空のパスです";
  std::unique_ptr<GFile, GObjectUnref> file(g_file_new_for_path(path.c_str()));
  GError* rawError = nullptr;
  if (g_file_trash(file.get(), nullptr, &rawError)) return {};
  std::unique_ptr<GError, GErrorFree> error(rawError);
  if (!error || !error->message) return "ごみ箱へ移動できません";
  std::string reason = error->message;
  std::unique_ptr<gchar, GFree> glibName(g_filename_display_name(path.c_str()));
  ReplaceEvery(reason, glibName.get(), DecodeFileName(path).toStdString());
  return reason;
}

}  // namespace

std::vector<std::string> SplitNulList(std::string_view list) {
  std::vector<std::string> paths;
  while (!list.empty()) {
    std::size_t nul = list.find('\0');
    std::string_view path = list.substr(0, nul);
    if (path.empty()) break;
    paths.emplace_back(path);
    if (nul == std::string_view::npos) break;
    list.remove_prefix(nul + 1);
  }
  return paths;
}

std::vector<TrashFailure> TrashFiles(const std::vector<std::string>& paths,
                                     const TrashProgress& progress) {
  std::vector<TrashFailure> failures;
  std::set<std::string_view> seen;
  const std::size_t total = paths.size();
  for (std::size_t done = 0; done < total; ++done) {
    if (progress && !progress(done, total)) return failures;
    const std::string& path = paths[done];
    if (!seen.insert(path).second) continue;
    if (std::string reason = TrashOne(path); !reason.empty())
      failures.push_back({path, std::move(reason)});
  }
  if (progress) progress(total, total);
  return failures;
}

std::string HomeTrashFolder() {
  return std::string(g_get_user_data_dir()) + "/Trash";
}

bool IsVolumeTrashFolder(const std::string& folder, std::string_view name) {
  constexpr std::string_view kPerUser = ".Trash-";
  const bool trashName =
      name == ".Trash" || (name.starts_with(kPerUser) && name.size() > kPerUser.size() &&
                           std::all_of(name.begin() + kPerUser.size(), name.end(), [](char c) {
                             return std::isdigit(static_cast<unsigned char>(c));
                           }));
  if (!trashName) return false;
  // The top of a volume: its parent lies on another device, or it is its own parent (the root).
  struct stat self {};
  struct stat parent {};
  if (::stat(folder.c_str(), &self) != 0 || ::stat((folder + "/..").c_str(), &parent) != 0)
    return false;
  return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

}  // namespace tavrin
