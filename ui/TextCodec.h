// Bytes in the user's code page to and from text for display. Nothing in a file is ever
// converted; this only decides how bytes look on screen.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tavrin {

// Decodes with the current code set; bytes that cannot be decoded show as U+FFFD.
QString DecodeBytes(std::string_view bytes);

// The one way a file name or path is shown, wherever it is shown. Decoded in the user's code
// set (the C locale reads UTF-8), with:
// - each control character (C0 and DEL) as its picture (U+2400...), so a name stays on one line;
// - each byte that does not decode, and each character that would break the line, reorder the
//   text or pass for one of those pictures (C1 controls, line and paragraph separators, bidi
//   controls, the pictures themselves, a second code for the same character), as \xNN;
// - a backslash as itself, except where x and two upper-case hex digits follow it: then it is
//   \x5C, so that every \xNN shown is an escape and nothing else is. Names with a plain
//   backslash, common where names come from other systems, read as they are.
// Different names never show the same, and EncodeFileName gives the bytes back.
QString DecodeFileName(std::string_view bytes);
QString DecodeFileName(std::string_view bytes, const std::string& codeSet);

// The bytes a name shown by DecodeFileName stands for: \xNN and the pictures as their bytes,
// everything else encoded in the user's code set. For names the user types, too.
std::string EncodeFileName(const QString& shown);
std::string EncodeFileName(const QString& shown, const std::string& codeSet);

}  // namespace tavrin
