#include "ErrorHandler.h"

#include <new>

#include "DesktopServices.h"
#include "FileIOTools.h"
#include "TextCodec.h"

namespace tavrin {

QString WithClosingPeriod(const QString& message) {
  if (message.isEmpty()) return message;
  // Compare the last character, not the last UTF-16 unit: a surrogate pair is one character,
  // and every non-ASCII character sorts after "." as it does as bytes.
  const char32_t last = message.back().isLowSurrogate() && message.size() >= 2
                            ? QChar::surrogateToUcs4(message[message.size() - 2], message.back())
                            : message.back().unicode();
  return last > U'.' ? message + QLatin1Char('.') : message;
}

QString ErrorMessageText(const std::exception& error) {
  QString text;
  if (const auto* fileError = dynamic_cast<const EFileError*>(&error)) {
    // The fixed text is ours (UTF-8); the name is the user's bytes in the user's code page.
    text = QString::fromUtf8(fileError->Format().data(),
                             static_cast<qsizetype>(fileError->Format().size()));
    text.replace(QStringLiteral("%s"), DecodeFileName(fileError->FileName()));
  } else if (const auto* own = dynamic_cast<const Exception*>(&error)) {
    text = DecodeBytes(own->Message());
  } else if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    text = QStringLiteral("メモリが不足しています");
  } else {
    text = QString::fromLocal8Bit(error.what());
  }
  return WithClosingPeriod(text);
}

void ShowError(DesktopServices& services, const std::exception& error) {
  services.MessageBox(nullptr, ErrorMessageText(error), QString::fromUtf8(kApplicationTitle),
                      mb::kOk | mb::kIconError);
}

}  // namespace tavrin
