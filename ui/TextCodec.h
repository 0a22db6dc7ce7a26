// The behaviour's texts and shown names as Qt strings, and back. The rules themselves live
// with the behaviour (ShownText.h), so both faces show the same.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tavrin {

// UTF-8 text of the behaviour as a Qt string.
inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToUtf8(const QString& text) {
  return text.toStdString();
}

// A file name or path for display, by the one rule of ShownPath; EncodeFileName gives the
// bytes back, also for names the user types.
QString DecodeFileName(std::string_view bytes);
QString DecodeFileName(std::string_view bytes, const std::string& codeSet);
std::string EncodeFileName(const QString& shown);
std::string EncodeFileName(const QString& shown, const std::string& codeSet);

}  // namespace tavrin
