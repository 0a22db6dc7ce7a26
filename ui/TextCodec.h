// Bytes in the user's code page to and from text for display. Nothing in a file is ever
// converted; this only decides how bytes look on screen.
#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace tavrin {

// Decodes with the current code set; bytes that cannot be decoded show as U+FFFD.
QString DecodeBytes(std::string_view bytes);

// A file name or path for display: decoded like text, but with every control character (a line
// break, a tab) shown as its picture (U+2400...), so that a name stays on one line and never
// looks like another.
QString DecodeFileName(std::string_view bytes);

}  // namespace tavrin
