// Paths are carried as UTF-8 and handed to the system as UTF-16.
#include <windows.h>

#include "SizeHint.h"

namespace tavrin::platform {

std::uint64_t SizeHint(const std::string& path) {
  if (path.empty() || path.size() > 32767 || path.find('\0') != std::string::npos) return 0;
  const int length = static_cast<int>(path.size());
  const int units =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
  if (units <= 0) return 0;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), units);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

}  // namespace tavrin::platform
