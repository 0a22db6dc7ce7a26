// Windows takes names as UTF-16; the program carries them as UTF-8. These two conversions are the
// only crossing between the two, for the core, the window and the tests alike.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tavrin {

// Strict: a text that is not valid UTF-8 has no wide form, and false says so.
inline bool WideFromUtf8(std::string_view utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  if (utf8.size() > 0x7FFFFFFF) return false;
  const int length = static_cast<int>(utf8.size());
  const int units =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (units <= 0) return false;
  wide.resize(static_cast<std::size_t>(units));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, wide.data(),
                               units) == units;
}

// The wide text as UTF-8; an unpaired surrogate (which the file system allows) becomes U+FFFD.
inline std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty() || wide.size() > 0x7FFFFFFF) return {};
  const int units = static_cast<int>(wide.size());
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

}  // namespace tavrin
