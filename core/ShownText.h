// How bytes look to a person. Nothing in a file or a path is ever converted: these routines only
// decide what the window and the command's messages show, and their results are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Text of a file for display. Read in the user's code set when it is valid there; else as UTF-8,
// else as Shift-JIS (code page 932), when valid as that; else in the user's code set with each
// byte that begins no character as U+FFFD. Where the user's code set has a character in every
// byte, UTF-8 comes first: nearly any bytes are valid in such a set, while text that is valid
// UTF-8 by chance is rare. A reading is valid when every character decodes, but for one that the
// text ends in the middle of (which shows as U+FFFD), and none decodes as a C1 control: no text
// holds those, but decoders give them for bytes that they have nothing for.
std::string ShownText(std::string_view bytes);
std::string ShownText(std::string_view bytes, const std::string& codeSet);

// The one way a file name or path is shown, wherever it is shown. Decoded as the file system's
// names are (the user's code set on POSIX, the C locale reading UTF-8; UTF-8 on Windows), with:
// - each control character (C0 and DEL) as its picture (U+2400...), so a name stays on one line;
// - each byte that does not decode, and each character that would break the line, reorder the
//   text or pass for one of those pictures (C1 controls, line and paragraph separators, bidi
//   controls, the pictures themselves, a second code for the same character), as \xNN;
// - a backslash as itself, except where x and two upper-case hex digits follow it: then it is
//   \x5C, so that every \xNN shown is an escape and nothing else is. Names with a plain
//   backslash, common where names come from other systems, read as they are.
// Different names never show the same, and ReadShownPath gives the bytes back.
std::string ShownPath(std::string_view bytes);
std::string ShownPath(std::string_view bytes, const std::string& codeSet);

// The bytes a name shown by ShownPath stands for: \xNN and the pictures as their bytes,
// everything else encoded as the file system's names are. For names the user types, too.
std::string ReadShownPath(std::string_view shown);
std::string ReadShownPath(std::string_view shown, const std::string& codeSet);

// The lines of a preview text: CR LF, CR and LF each end a line (shown as LF); a line longer
// than maxLine characters is cut into pieces after its last space where it has one.
std::string ShownLines(std::string_view utf8, std::size_t maxLine = 8192);

// The first character of some bytes and how many bytes it takes; 0 bytes when the first byte
// begins no character that decodes.
struct DecodedCharacter {
  char32_t c = 0;
  std::size_t length = 0;
};

namespace platform {

// True where text in codeSet is read as UTF-8.
bool ReadsAsUtf8(const std::string& codeSet);

// How much of a text is valid: its first length bytes decode; cut when the rest is the
// beginning of a character that the text ends in the middle of.
struct ValidPart {
  std::size_t length = 0;
  bool cut = false;
};

// What to do with a byte that begins no valid character: append what stands for it.
using InvalidByte = void (*)(unsigned char byte, std::string& out);

// Bytes in codeSet (one that does not read as UTF-8) appended as UTF-8. Each byte that begins
// no valid character is handed to invalid and decoding goes on after it; with no invalid,
// decoding stops there and the part before it is the valid part.
ValidPart Decode(std::string_view bytes, const std::string& codeSet, std::string& out,
                 InvalidByte invalid = nullptr);

// One character at a time to and from the code set of file names, where that is not UTF-8.
class NameCodec {
 public:
  virtual ~NameCodec() = default;
  virtual DecodedCharacter Next(std::string_view bytes) = 0;
  virtual bool Encode(char32_t c, std::string& out) = 0;
};
// The codec for names in codeSet, or null when names are read as UTF-8.
NameCodec* NameCodecFor(const std::string& codeSet);

}  // namespace platform

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, so that each
// character has exactly one spelling.
DecodedCharacter NextUtf8(std::string_view bytes);
void AppendUtf8(std::string& out, char32_t c);

// Strict UTF-8 appended as it is, handled as platform::Decode handles other code sets.
platform::ValidPart DecodeUtf8(std::string_view bytes, std::string& out,
                               platform::InvalidByte invalid = nullptr);

}  // namespace tavrin
