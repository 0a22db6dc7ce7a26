#include <sys/stat.h>

#include "SizeHint.h"

namespace tavrin::platform {

std::uint64_t SizeHint(const std::string& path) {
  struct stat st {};
  if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

}  // namespace tavrin::platform
