#include "ShownText.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "CodePage.h"

namespace tavrin {

namespace {

constexpr char32_t kPictureOfNul = 0x2400;
constexpr char32_t kPictureOfDelete = 0x2421;

// Characters that must not show as themselves in a name: they would break the line, change the
// order in which the rest is drawn, hide, or pass for the picture of a control character.
bool MustBeEscaped(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         (c >= kPictureOfNul && c <= kPictureOfDelete) || (c >= 0xD800 && c <= 0xDFFF);
}

bool IsUpperHexDigit(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  return c <= '9' ? c - '0' : c - 'A' + 10;
}

// A piece of a name: one character shown as itself (or as its picture), or bytes shown as \xNN.
struct Piece {
  std::string_view bytes;
  char32_t c;
  bool escaped;
};

std::vector<Piece> SplitName(std::string_view bytes, platform::NameCodec* codec,
                             const LeadByteSet& leadBytes) {
  std::vector<Piece> pieces;
  std::string again;
  while (!bytes.empty()) {
    const auto first = static_cast<unsigned char>(bytes[0]);
    // A byte below 0x80 is ASCII in every code set, as a path's separators must be, also where
    // the C library's table makes 0x5C a yen sign and 0x7E an overline.
    if (first < 0x80 || codec == nullptr) {
      const DecodedCharacter next = codec == nullptr ? NextUtf8(bytes) : DecodedCharacter{first, 1};
      const std::size_t length = next.length == 0 ? 1 : next.length;
      pieces.push_back(
          {bytes.substr(0, length), next.c, next.length == 0 || MustBeEscaped(next.c)});
      bytes.remove_prefix(length);
      continue;
    }
    DecodedCharacter next = codec->Next(bytes);
    bool escaped = next.length == 0 || MustBeEscaped(next.c);
    if (next.length == 0) {
      // A lead byte without a character still takes the byte after it, when that can be a
      // second byte: read alone, that byte would pair with the next and show a wrong character.
      const bool pairs = leadBytes.Contains(first) && bytes.size() >= 2 &&
                         static_cast<unsigned char>(bytes[1]) >= 0x40;
      next.length = pairs ? 2 : 1;
    }
    if (!escaped) {
      // A character that two byte sequences decode to would make two names look the same: only
      // the spelling the code set writes it with shows as the character.
      again.clear();
      escaped = !codec->Encode(next.c, again) || again != bytes.substr(0, next.length);
    }
    pieces.push_back({bytes.substr(0, next.length), next.c, escaped});
    bytes.remove_prefix(next.length);
  }
  return pieces;
}

// True where a backslash shown as itself would start what reads as an escape.
bool StartsEscapeLookalike(const std::vector<Piece>& pieces, std::size_t i) {
  const auto plain = [&](std::size_t k) { return k < pieces.size() && !pieces[k].escaped; };
  return pieces[i].c == U'\\' && plain(i + 1) && pieces[i + 1].c == U'x' && plain(i + 2) &&
         IsUpperHexDigit(pieces[i + 2].c) && plain(i + 3) && IsUpperHexDigit(pieces[i + 3].c);
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (char byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    out += "\\x";
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
}

void ReplacementCharacter(unsigned char, std::string& out) {
  AppendUtf8(out, 0xFFFD);
}

// The first character of strict UTF-8; when there is none, cut tells whether the bytes are the
// beginning of one that they end before.
DecodedCharacter NextUtf8(std::string_view bytes, bool& cut) {
  cut = false;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t length;
  char32_t c;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i == bytes.size()) {
      cut = true;
      return {};
    }
    const unsigned char next = at(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {};
    c = (c << 6) | (next & 0x3F);
  }
  return {c, length};
}

// Shift-JIS as code page 932 writes it: ASCII, half-width katakana 0xA1-0xDF, and a lead byte
// 0x81-0x9F or 0xE0-0xFC with a second byte 0x40-0x7E or 0x80-0xFC. 0x80, 0xA0 and 0xFD-0xFF
// are no characters of it, whatever private codes some decoders give them. A lead byte may end
// the text.
bool IsShiftJisShaped(std::string_view bytes) {
  constexpr LeadByteSet kLead = LeadByteSet::ShiftJis();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue;
    if (!kLead.Contains(b)) return false;
    if (++i == bytes.size()) break;
    const auto second = static_cast<unsigned char>(bytes[i]);
    if (second < 0x40 || second == 0x7F || second > 0xFC) return false;
  }
  return true;
}

// U+0080 to U+009F in UTF-8, where 0xC2 is always the first byte of a character.
bool HoldsC1Control(std::string_view utf8) {
  for (std::size_t at = utf8.find('\xC2'); at != std::string_view::npos && at + 1 < utf8.size();
       at = utf8.find('\xC2', at + 1)) {
    if (static_cast<unsigned char>(utf8[at + 1]) <= 0x9F) return true;
  }
  return false;
}

enum class Reading { kUserCodeSet, kUtf8, kShiftJis };

// The text read as reading, appended to out; false, with out left in any state, when the text
// is not valid that way, or when beyondAscii asks for a character outside ASCII and there is
// none before the end.
bool ReadIfValid(std::string_view bytes, Reading reading, const std::string& codeSet,
                 bool beyondAscii, std::string& out) {
  platform::ValidPart part;
  if (reading == Reading::kUtf8 ||
      (reading == Reading::kUserCodeSet && platform::ReadsAsUtf8(codeSet))) {
    part = DecodeUtf8(bytes, out);
  } else if (reading == Reading::kShiftJis) {
    if (!IsShiftJisShaped(bytes)) return false;
    part = platform::Decode(bytes, "CP932", out);
  } else {
    part = platform::Decode(bytes, codeSet, out);
  }
  if ((part.length < bytes.size() && !part.cut) || HoldsC1Control(out)) return false;
  if (beyondAscii && std::all_of(bytes.begin(), bytes.begin() + part.length,
                                 [](char b) { return static_cast<unsigned char>(b) < 0x80; })) {
    return false;
  }
  // The character cut at the end shows as bytes that decode to nothing always did.
  for (std::size_t i = part.length; i < bytes.size(); ++i) AppendUtf8(out, 0xFFFD);
  return true;
}

// The first code point of valid UTF-8 and its length.
char32_t CodePointAt(std::string_view utf8, std::size_t at, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(utf8[at]);
  if (b0 < 0x80) return length = 1, b0;
  length = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
  char32_t c = b0 & (0x7F >> length);
  for (std::size_t i = 1; i < length && at + i < utf8.size(); ++i) {
    c = (c << 6) | (static_cast<unsigned char>(utf8[at + i]) & 0x3F);
  }
  return c;
}

// Appends one line, cut into pieces of at most maxLine characters, each ending after its last
// space where it has one.
void AppendShownLine(std::string_view line, std::size_t maxLine, std::string& out) {
  while (true) {
    std::size_t at = 0, characters = 0, afterSpace = 0;
    while (at < line.size() && characters < maxLine) {
      std::size_t length;
      if (CodePointAt(line, at, length) == U' ') afterSpace = at + 1;
      at += length;
      ++characters;
    }
    if (at >= line.size()) break;
    const std::size_t cut = afterSpace > 0 ? afterSpace : at;
    out.append(line.substr(0, cut));
    out.push_back('\n');
    line.remove_prefix(cut);
  }
  out.append(line);
}

}  // namespace

std::string ShownText(std::string_view bytes) {
  return ShownText(bytes, CurrentCodeSetName());
}

std::string ShownText(std::string_view bytes, const std::string& codeSet) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::vector<Reading> order{Reading::kUtf8, Reading::kShiftJis};
  // A set with a character in every byte reads nearly anything, so it tells little; UTF-8 tells
  // more, once it has read a character beyond ASCII.
  bool utf8First = false;
  if (platform::ReadsAsUtf8(codeSet)) {
    order[0] = Reading::kUserCodeSet;
  } else {
    utf8First = LeadByteSetForCodeSet(codeSet).Empty();
    order.insert(order.begin() + (utf8First ? 1 : 0), Reading::kUserCodeSet);
  }
  for (const Reading reading : order) {
    if (ReadIfValid(bytes, reading, codeSet, utf8First && reading == Reading::kUtf8, out)) {
      return out;
    }
    out.clear();
  }
  // Each byte that begins no character as U+FFFD, the same on every system.
  if (platform::ReadsAsUtf8(codeSet)) {
    DecodeUtf8(bytes, out, ReplacementCharacter);
  } else {
    platform::Decode(bytes, codeSet, out, ReplacementCharacter);
  }
  return out;
}

DecodedCharacter NextUtf8(std::string_view bytes) {
  bool cut;
  return NextUtf8(bytes, cut);
}

platform::ValidPart DecodeUtf8(std::string_view bytes, std::string& out,
                               platform::InvalidByte invalid) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    // Runs of ASCII are by far the most common: copied in one piece.
    std::size_t run = at;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
    out.append(bytes.substr(at, run - at));
    at = run;
    if (at == bytes.size()) break;
    bool cut;
    const DecodedCharacter next = NextUtf8(bytes.substr(at), cut);
    if (next.length > 0) {
      out.append(bytes.substr(at, next.length));
      at += next.length;
    } else if (invalid == nullptr) {
      return {at, cut};
    } else {
      invalid(static_cast<unsigned char>(bytes[at++]), out);
    }
  }
  return {at, false};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string ShownPath(std::string_view bytes) {
  return ShownPath(bytes, CurrentCodeSetName());
}

std::string ShownPath(std::string_view bytes, const std::string& codeSet) {
  // Most names are printable ASCII: nothing to decode or mark.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char b) { return b >= 0x20 && b < 0x7F && b != '\\'; })) {
    return std::string(bytes);
  }
  platform::NameCodec* codec = platform::NameCodecFor(codeSet);
  const std::vector<Piece> pieces =
      SplitName(bytes, codec, codec != nullptr ? LeadByteSetForCodeSet(codeSet) : LeadByteSet());
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    if (piece.escaped || StartsEscapeLookalike(pieces, i)) {
      AppendEscaped(out, piece.bytes);
    } else if (piece.c < 0x20) {
      AppendUtf8(out, kPictureOfNul + piece.c);
    } else if (piece.c == 0x7F) {
      AppendUtf8(out, kPictureOfDelete);
    } else {
      AppendUtf8(out, piece.c);
    }
  }
  return out;
}

std::string ReadShownPath(std::string_view shown) {
  return ReadShownPath(shown, CurrentCodeSetName());
}

std::string ReadShownPath(std::string_view shown, const std::string& codeSet) {
  platform::NameCodec* codec = platform::NameCodecFor(codeSet);
  std::string out;
  out.reserve(shown.size());
  for (std::size_t i = 0; i < shown.size();) {
    if (shown[i] == '\\' && i + 3 < shown.size() && shown[i + 1] == 'x' &&
        IsUpperHexDigit(static_cast<unsigned char>(shown[i + 2])) &&
        IsUpperHexDigit(static_cast<unsigned char>(shown[i + 3]))) {
      out.push_back(static_cast<char>(HexValue(shown[i + 2]) * 16 + HexValue(shown[i + 3])));
      i += 4;
      continue;
    }
    const DecodedCharacter next = NextUtf8(shown.substr(i));
    if (next.length == 0) {  // not UTF-8 at all: the byte stands for itself
      out.push_back(shown[i++]);
      continue;
    }
    i += next.length;
    const char32_t c = next.c;
    if (c >= kPictureOfNul && c < kPictureOfNul + 0x20) {
      out.push_back(static_cast<char>(c - kPictureOfNul));
    } else if (c == kPictureOfDelete) {
      out.push_back('\x7F');
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (codec == nullptr || !codec->Encode(c, out)) {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::string ShownLines(std::string_view utf8, std::size_t maxLine) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / maxLine + 16);
  std::size_t at = 0;
  while (at < utf8.size()) {
    std::size_t end = utf8.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = utf8.size();
    AppendShownLine(utf8.substr(at, end - at), maxLine, out);
    if (end == utf8.size()) break;
    out.push_back('\n');
    at = end + ((utf8[end] == '\r' && end + 1 < utf8.size() && utf8[end + 1] == '\n') ? 2 : 1);
  }
  return out;
}

}  // namespace tavrin
