// Decoding for display on Windows: file contents are in the ANSI code page; the program carries
// paths as UTF-8, taken from and handed to the system as UTF-16.
#include <windows.h>

#include <string>

#include "ShownText.h"

namespace tavrin::platform {

namespace {

// One character of the ANSI code page (one or two bytes) to UTF-8; false when it has none.
bool DecodeCharacter(std::string_view character, std::string& out) {
  wchar_t wide[4];
  const int units = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, character.data(),
                                          static_cast<int>(character.size()), wide, 4);
  if (units <= 0) return false;
  char utf8[16];
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr);
  if (bytes <= 0) return false;
  out.append(utf8, static_cast<std::size_t>(bytes));
  return true;
}

// Large texts in one call; only a text holding an undecodable byte goes character by character.
bool DecodeWhole(std::string_view bytes, std::string& out) {
  if (bytes.empty()) return true;
  if (bytes.size() > 0x10000000) return false;
  const int length = static_cast<int>(bytes.size());
  const int units =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), units);
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data() + start, size, nullptr, nullptr);
  return true;
}

}  // namespace

void DecodeContents(std::string_view bytes, std::string& out, InvalidByte invalid) {
  if (DecodeWhole(bytes, out)) return;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length =
        ::IsDBCSLeadByte(static_cast<BYTE>(bytes[at])) && at + 1 < bytes.size() ? 2 : 1;
    if (DecodeCharacter(bytes.substr(at, length), out)) {
      at += length;
    } else {
      invalid(static_cast<unsigned char>(bytes[at]), out);
      ++at;
    }
  }
}

NameCodec* NameCodecFor(const std::string&) {
  return nullptr;  // names are carried as UTF-8
}

}  // namespace tavrin::platform
