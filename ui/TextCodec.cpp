#include "TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "CodePage.h"

namespace tavrin {

namespace {

bool IsUtf8(const std::string& codeSet) {
  return codeSet == "UTF-8" || codeSet == "utf-8" || codeSet == "UTF8" || codeSet == "utf8";
}

// Qt only knows UTF-8 and Latin-1 on its own, so other code sets go through the C library.
QString DecodeWithIconv(std::string_view bytes, const std::string& codeSet) {
  iconv_t cd = ::iconv_open("UTF-16LE", codeSet.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes.data(), bytes.size());
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  std::vector<char> buffer(64 * 1024);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(QString(reinterpret_cast<const QChar*>(buffer.data()),
                       static_cast<qsizetype>((buffer.size() - outLeft) / 2)));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(QChar::ReplacementCharacter);  // an invalid or cut-off sequence: skip a byte
      ++in;
      --inLeft;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace

QString DecodeBytes(std::string_view bytes) {
  const std::string codeSet = CurrentCodeSetName();
  if (IsUtf8(codeSet)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (CurrentLeadByteSet().Empty() && (codeSet == "ANSI_X3.4-1968" || codeSet.empty())) {
    // The plain C locale: show what is readable as UTF-8 rather than mark every high byte.
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return DecodeWithIconv(bytes, codeSet);
}

QString DecodeFileName(std::string_view bytes) {
  QString text = DecodeBytes(bytes);
  for (QChar& c : text) {
    if (c.unicode() < 0x20) c = QChar(static_cast<char16_t>(0x2400 + c.unicode()));
    if (c.unicode() == 0x7F) c = QChar(static_cast<char16_t>(0x2421));
  }
  return text;
}

}  // namespace tavrin
