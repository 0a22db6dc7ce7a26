#include "TextCodec.h"

#include "ShownText.h"

namespace tavrin {

QString DecodeFileName(std::string_view bytes) {
  return FromUtf8(ShownPath(bytes));
}

QString DecodeFileName(std::string_view bytes, const std::string& codeSet) {
  return FromUtf8(ShownPath(bytes, codeSet));
}

std::string EncodeFileName(const QString& shown) {
  return ReadShownPath(ToUtf8(shown));
}

std::string EncodeFileName(const QString& shown, const std::string& codeSet) {
  return ReadShownPath(ToUtf8(shown), codeSet);
}

}  // namespace tavrin
