// How bytes look to a person. Nothing in a file or a path is ever converted: these routines only
// decide what the window shows, and their results are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Text of a file (bytes in the user's code page) for display; what cannot be decoded shows as
// U+FFFD.
std::string ShownText(std::string_view bytes);

// A path or file name for display, the same wherever it is shown: decoded like the names of
// the file system, every control character (a line break, a tab) shown as its picture so the
// name stays on one line, and every byte that cannot be decoded shown as \xNN. A backslash
// that stands before "x" is shown as \x5C, so no shown name can be read as another.
std::string ShownPath(std::string_view bytes);

// The lines of a preview text: CR LF, CR and LF each end a line (shown as LF); a line longer
// than maxLine characters is cut into pieces after its last space where it has one.
std::string ShownLines(std::string_view utf8, std::size_t maxLine = 8192);

namespace platform {
// Appends the bytes decoded to UTF-8: file contents in the user's code page, or names as the
// file system holds them. Each byte that begins no valid character is handed to invalid.
using InvalidByte = void (*)(unsigned char byte, std::string& out);
void DecodeContents(std::string_view bytes, std::string& out, InvalidByte invalid);
void DecodeName(std::string_view bytes, std::string& out, InvalidByte invalid);
}  // namespace platform

// Appends valid UTF-8 as it is and hands each byte of an invalid sequence to invalid.
void DecodeUtf8(std::string_view bytes, std::string& out, platform::InvalidByte invalid);

}  // namespace tavrin
