#include "Trash.h"

#include <gio/gio.h>

#include <cstdio>
#include <memory>
#include <set>

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

// GLib's own words for why the file could not be trashed.
std::string TrashOne(const std::string& path) {
  // An empty path would name the current folder.
  if (path.empty()) return "空のパスです";
  std::unique_ptr<GFile, GObjectUnref> file(g_file_new_for_path(path.c_str()));
  GError* rawError = nullptr;
  if (g_file_trash(file.get(), nullptr, &rawError)) return {};
  std::unique_ptr<GError, GErrorFree> error(rawError);
  return error && error->message ? error->message : "ごみ箱へ移動できません";
}

std::string EscapeInvalidUtf8(std::string_view bytes) {
  std::string out;
  while (!bytes.empty()) {
    const gchar* end = nullptr;
    g_utf8_validate_len(bytes.data(), bytes.size(), &end);
    std::size_t valid = static_cast<std::size_t>(end - bytes.data());
    out.append(bytes.substr(0, valid));
    bytes.remove_prefix(valid);
    if (bytes.empty()) break;
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(bytes.front()));
    out += escaped;
    bytes.remove_prefix(1);
  }
  return out;
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

std::string DisplayPath(std::string_view path) {
  if (g_utf8_validate_len(path.data(), path.size(), nullptr)) return std::string(path);
  const char* charset = nullptr;
  if (!g_get_charset(&charset)) {
    gsize written = 0;
    std::unique_ptr<gchar, GFree> converted(g_convert(path.data(), static_cast<gssize>(path.size()),
                                                      "UTF-8", charset, nullptr, &written,
                                                      nullptr));
    if (converted) return std::string(converted.get(), written);
  }
  return EscapeInvalidUtf8(path);
}

}  // namespace tavrin
