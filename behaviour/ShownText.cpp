#include "ShownText.h"

#include <cstdint>

namespace tavrin {

namespace {

void AppendCodePoint(char32_t c, std::string& out) {
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

void ReplacementCharacter(unsigned char, std::string& out) {
  AppendCodePoint(0xFFFD, out);
}

void HexEscape(unsigned char byte, std::string& out) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0xF]);
}

// The length of the valid UTF-8 sequence at the start of bytes, or 0.
std::size_t ValidSequence(std::string_view bytes) {
  const auto b0 = static_cast<unsigned char>(bytes[0]);
  if (b0 < 0x80) return 1;
  std::size_t length;
  char32_t min;
  char32_t c;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, min = 0x80, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, min = 0x800, c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, min = 0x10000, c = b0 & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
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

void DecodeUtf8(std::string_view bytes, std::string& out, platform::InvalidByte invalid) {
  out.reserve(out.size() + bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    // Runs of ASCII are by far the most common: copy them in one piece.
    std::size_t run = at;
    while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
    out.append(bytes.substr(at, run - at));
    at = run;
    if (at == bytes.size()) break;
    if (const std::size_t length = ValidSequence(bytes.substr(at)); length > 0) {
      out.append(bytes.substr(at, length));
      at += length;
    } else {
      invalid(static_cast<unsigned char>(bytes[at]), out);
      ++at;
    }
  }
}

std::string ShownText(std::string_view bytes) {
  std::string out;
  platform::DecodeContents(bytes, out, ReplacementCharacter);
  return out;
}

std::string ShownPath(std::string_view bytes) {
  // Undecodable bytes are first marked with 0xFF, which valid UTF-8 never holds, so that they
  // can be told from text that merely looks like an escape.
  std::string decoded;
  platform::DecodeName(bytes, decoded, [](unsigned char byte, std::string& out) {
    out.push_back('\xFF');
    out.push_back(static_cast<char>(byte));
  });
  std::string out;
  out.reserve(decoded.size());
  for (std::size_t at = 0; at < decoded.size(); ++at) {
    const auto c = static_cast<unsigned char>(decoded[at]);
    if (c == 0xFF && at + 1 < decoded.size()) {
      HexEscape(static_cast<unsigned char>(decoded[++at]), out);
    } else if (c < 0x20) {
      AppendCodePoint(0x2400 + c, out);
    } else if (c == 0x7F) {
      AppendCodePoint(0x2421, out);
    } else if (c == '\\' && at + 1 < decoded.size() && decoded[at + 1] == 'x') {
      HexEscape(c, out);
    } else {
      out.push_back(static_cast<char>(c));
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
