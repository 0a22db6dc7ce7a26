// Decoding for display on POSIX systems: the locale's code set names both file contents and
// file names.
#include <iconv.h>

#include <cerrno>

#include "CodePage.h"
#include "ShownText.h"

namespace tavrin::platform {

namespace {

bool IsUtf8OrAscii(const std::string& codeSet) {
  // The plain C locale shows what is readable as UTF-8 rather than mark every high byte.
  return codeSet == "UTF-8" || codeSet == "utf-8" || codeSet == "UTF8" || codeSet == "utf8" ||
         codeSet == "ANSI_X3.4-1968" || codeSet.empty();
}

void DecodeWithIconv(std::string_view bytes, std::string& out, InvalidByte invalid,
                     const std::string& codeSet) {
  iconv_t cd = ::iconv_open("UTF-8", codeSet.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    DecodeUtf8(bytes, out, invalid);
    return;
  }
  char buffer[16 * 1024];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, sizeof buffer - outLeft);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // An invalid or cut-off sequence: its first byte stands for itself.
      invalid(static_cast<unsigned char>(*in), out);
      ++in;
      --inLeft;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv_close(cd);
}

void Decode(std::string_view bytes, std::string& out, InvalidByte invalid) {
  const std::string codeSet = CurrentCodeSetName();
  if (IsUtf8OrAscii(codeSet)) {
    DecodeUtf8(bytes, out, invalid);
  } else {
    DecodeWithIconv(bytes, out, invalid, codeSet);
  }
}

}  // namespace

void DecodeContents(std::string_view bytes, std::string& out, InvalidByte invalid) {
  Decode(bytes, out, invalid);
}

void DecodeName(std::string_view bytes, std::string& out, InvalidByte invalid) {
  Decode(bytes, out, invalid);
}

}  // namespace tavrin::platform
