// A temporary folder removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#ifdef _WIN32
#include <random>
#endif

namespace tavrin::testing {

// Names are carried as UTF-8, as the program carries them; on Windows the file system takes them
// as UTF-16, so a test never goes through the ANSI code page either.
inline std::filesystem::path NativePath(std::string_view name) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
  return std::filesystem::path(std::string(name));
#endif
}

inline std::string PathText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
#else
  return path.string();
#endif
}

class TempDir {
 public:
  TempDir() : path_(MakeNewFolder()) {}
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(std::string_view name) const { return PathText(path_ / NativePath(name)); }

 private:
  static std::filesystem::path MakeNewFolder();

  std::filesystem::path path_;
};

#ifdef _WIN32
// The Windows C runtime has no mkdtemp: random names are tried until one is new.
inline std::filesystem::path TempDir::MakeNewFolder() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  while (true) {
    std::filesystem::path candidate = base / ("tavrin-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) return candidate;
  }
}
#else
inline std::filesystem::path TempDir::MakeNewFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-test-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}
#endif

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream(NativePath(path), std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Whether anything stands at path, a link leading nowhere too.
inline bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(NativePath(path), error));
}

// The files in folder named as the program names its new files under way (".tavrin-..."), but
// for except.
inline int NewFilesIn(const std::filesystem::path& folder, std::string_view except = {}) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = PathText(entry.path().filename());
    count += name.starts_with(".tavrin-") && name != except;
  }
  return count;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  // In one piece: a character at a time takes seconds for big files in a debug build.
  std::ostringstream all;
  all << in.rdbuf();
  return std::move(all).str();
}

}  // namespace tavrin::testing
