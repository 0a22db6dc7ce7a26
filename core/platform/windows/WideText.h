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

// Before it looks, Windows drops a trailing dot from each part of a name and a trailing space from
// its last part: "a.html." names a.html, another file than the one a file system may well hold
// under that name. false for such a name; one under "\\?\" is taken as it stands.
inline bool NamesItself(std::wstring_view name) {
  if (name.starts_with(L"\\\\?\\")) return true;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = name.find_first_of(L"\\/", start);
    const bool last = end == std::wstring_view::npos;
    const std::wstring_view part = name.substr(start, last ? end : end - start);
    if (part != L"." && part != L".." && !part.empty() &&
        (part.back() == L'.' || (last && part.back() == L' '))) {
      return false;
    }
    if (last) return true;
    start = end + 1;
  }
}

// The name made absolute as the system itself would (GetFullPathNameW); false where it cannot.
inline bool FullPathName(const std::wstring& name, std::wstring& full) {
  const DWORD needed = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  full.assign(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  full.resize(length);
  return true;
}

// Whether the system takes the name for a device rather than a file: "NUL", "COM1" and the like
// name their device in any folder and with any extension ("C:\dir\nul.html", before Windows
// 11), and the full form says so: "\\.\NUL". A volume or a drive ("\\.\C:") is no file either.
// Known by the name alone, so that a device is refused before anything opens it: an open alone
// can change a serial line.
inline bool IsDeviceName(const std::wstring& name) {
  std::wstring full;
  if (!FullPathName(name, full)) return false;
  if (!full.starts_with(L"\\\\.\\") && !full.starts_with(L"\\\\?\\")) return false;
  return full.find_first_of(L"\\/", 4) == std::wstring::npos;
}

// The name as handed to the system's wide calls. Without "\\?\" a call fails when the full name
// reaches MAX_PATH, and the temporary beside an output can pass that limit where the output
// itself stays under it. From there on the name goes in its "\\?\" form: absolute, with the
// separators, "." and ".." resolved as the system itself would, a share as "\\?\UNC\". Shorter
// names and names already in a device form stay as they are. Check NamesItself first: the
// "\\?\" form keeps trailing dots and spaces that the plain name would lose.
inline std::wstring SystemName(const std::wstring& name) {
  if (name.empty() || name.starts_with(L"\\\\?\\") || name.starts_with(L"\\\\.\\")) return name;
  std::wstring full;
  if (!FullPathName(name, full)) return name;
  if (full.size() < MAX_PATH || full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
    return name;
  }
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The wide text as UTF-8. An unpaired surrogate (which the file system allows in names) is
// encoded on its own, as three bytes that are no valid UTF-8: such a name then names nothing, as
// WideFromUtf8 refuses it, where a replacement character would name another file.
inline std::string Utf8FromWide(std::wstring_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<char16_t>(wide[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

}  // namespace tavrin
