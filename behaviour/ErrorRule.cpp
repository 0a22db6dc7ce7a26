#include "ErrorRule.h"

#include <new>

#include "DesktopServices.h"
#include "FileIOTools.h"
#include "ShownText.h"
#include "Texts.h"

namespace tavrin {

std::string WithClosingPeriod(std::string message) {
  // Every byte of a non-ASCII character in UTF-8 is above 0x7F, so the last byte tells how the
  // last character sorts.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

std::string ErrorMessageText(const std::exception& error) {
  std::string text;
  if (const auto* fileError = dynamic_cast<const EFileError*>(&error)) {
    // The fixed text is ours (UTF-8); the name is the user's bytes.
    text = fileError->Format();
    if (const std::size_t at = text.find("%s"); at != std::string::npos) {
      text.replace(at, 2, ShownPath(fileError->FileName()));
    }
  } else if (const auto* own = dynamic_cast<const Exception*>(&error)) {
    text = ShownText(own->Message());
  } else if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    text = texts::kOutOfMemory;
  } else {
    text = ShownText(error.what());
  }
  return WithClosingPeriod(std::move(text));
}

void ShowError(DesktopServices& services, const std::exception& error) {
  services.MessageBox(nullptr, ErrorMessageText(error), texts::kApplicationTitle,
                      mb::kOk | mb::kIconError);
}

}  // namespace tavrin
