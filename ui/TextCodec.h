// Bytes in the user's code page to and from text for display. Nothing in a file is ever
// converted; this only decides how bytes look on screen.
#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace tavrin {

// Decodes with the current code set; bytes that cannot be decoded show as U+FFFD.
QString DecodeBytes(std::string_view bytes);

}  // namespace tavrin
