// Decoding for display on Windows: file contents are in a code page, the ANSI one unless another
// is named; the program carries paths as UTF-8, taken from and handed to the system as UTF-16.
#include <windows.h>

#include <string>

#include "ShownText.h"

namespace tavrin::platform {

namespace {

// The code page of a code-set name as CurrentCodeSetName gives it ("CP932"), or of "UTF-8";
// the ANSI code page for any other name.
UINT CodePageOf(const std::string& codeSet) {
  if (ReadsAsUtf8(codeSet)) return CP_UTF8;
  if (codeSet.size() < 3 || codeSet.size() > 7 || codeSet.compare(0, 2, "CP") != 0) return CP_ACP;
  UINT codePage = 0;
  for (std::size_t i = 2; i < codeSet.size(); ++i) {
    if (codeSet[i] < '0' || codeSet[i] > '9') return CP_ACP;
    codePage = codePage * 10 + static_cast<UINT>(codeSet[i] - '0');
  }
  return codePage;
}

// One character of the code page (one or two bytes) to UTF-8; false when it has none.
bool DecodeCharacter(UINT codePage, std::string_view character, std::string& out) {
  wchar_t wide[4];
  const int units = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, character.data(),
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
bool DecodeWhole(UINT codePage, std::string_view bytes, std::string& out) {
  if (bytes.empty()) return true;
  if (bytes.size() > 0x10000000) return false;
  const int length = static_cast<int>(bytes.size());
  const int units =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), units);
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data() + start, size, nullptr, nullptr);
  return true;
}

std::size_t CharacterLength(UINT codePage, std::string_view bytes, std::size_t at) {
  return ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at])) && at + 1 < bytes.size() ? 2
                                                                                             : 1;
}

}  // namespace

bool ReadsAsUtf8(const std::string& codeSet) {
  return codeSet == "CP65001" || codeSet == "UTF-8";
}

ValidPart Decode(std::string_view bytes, const std::string& codeSet, std::string& out,
                 InvalidByte invalid) {
  const UINT codePage = CodePageOf(codeSet);
  if (DecodeWhole(codePage, bytes, out)) return {bytes.size(), false};
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (invalid == nullptr && at + 1 == bytes.size() &&
        ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at]))) {
      return {at, true};  // the text ends inside a character
    }
    const std::size_t length = CharacterLength(codePage, bytes, at);
    if (DecodeCharacter(codePage, bytes.substr(at, length), out)) {
      at += length;
    } else if (invalid == nullptr) {
      return {at, false};
    } else {
      invalid(static_cast<unsigned char>(bytes[at]), out);
      ++at;
    }
  }
  return {at, false};
}

NameCodec* NameCodecFor(const std::string&) {
  return nullptr;  // names are carried as UTF-8
}

}  // namespace tavrin::platform
