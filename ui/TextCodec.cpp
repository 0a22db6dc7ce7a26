#include "TextCodec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "CodePage.h"

namespace tavrin {

namespace {

bool IsUtf8(const std::string& codeSet) {
  return codeSet == "UTF-8" || codeSet == "utf-8" || codeSet == "UTF8" || codeSet == "utf8";
}

// The C locale's ASCII: file names there are read as UTF-8 rather than every high byte marked.
bool ReadsAsUtf8(const std::string& codeSet) {
  return IsUtf8(codeSet) || codeSet.empty() || codeSet == "ANSI_X3.4-1968" || codeSet == "ASCII" ||
         codeSet == "US-ASCII";
}

// Qt only knows UTF-8 and Latin-1 on its own, so other code sets go through the C library.
QString DecodeWithIconv(std::string_view bytes, const std::string& codeSet) {
  iconv_t cd = ::iconv_open("UTF-16LE", codeSet.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes.data(), bytes.size());
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  std::vector<char> buffer(64 * 1024);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(QString(reinterpret_cast<const QChar*>(buffer.data()),
                       static_cast<qsizetype>((buffer.size() - outLeft) / 2)));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out.append(QChar::ReplacementCharacter);  // an invalid or cut-off sequence: skip a byte
      ++in;
      --inLeft;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  ::iconv_close(cd);
  return out;
}

// ---- file names, one character at a time ----

// The character at the start of some bytes and how many bytes it takes; 0 bytes when the first
// byte does not begin a character that decodes.
struct Decoded {
  char32_t c = 0;
  std::size_t length = 0;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, so that each
// character has exactly one spelling.
Decoded NextUtf8(std::string_view bytes) {
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
  if (bytes.size() < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = at(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return {};
    c = (c << 6) | (next & 0x3F);
  }
  return {c, length};
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

// One character at a time to and from another code set through iconv. Kept open between calls:
// the search window shows thousands of names.
class IconvCodec {
 public:
  explicit IconvCodec(std::string codeSet)
      : codeSet_(std::move(codeSet)),
        toUnicode_(::iconv_open("UTF-32LE", codeSet_.c_str())),
        fromUnicode_(::iconv_open(codeSet_.c_str(), "UTF-32LE")) {}
  ~IconvCodec() {
    if (toUnicode_ != kFailed) ::iconv_close(toUnicode_);
    if (fromUnicode_ != kFailed) ::iconv_close(fromUnicode_);
  }
  IconvCodec(const IconvCodec&) = delete;
  IconvCodec& operator=(const IconvCodec&) = delete;

  const std::string& CodeSet() const { return codeSet_; }
  bool Usable() const { return toUnicode_ != kFailed && fromUnicode_ != kFailed; }

  Decoded Next(std::string_view bytes) {
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    unsigned char unit[4];
    char* out = reinterpret_cast<char*>(unit);
    std::size_t outLeft = sizeof unit;
    // With room for one character only, iconv stops after the first.
    ::iconv(toUnicode_, &in, &inLeft, &out, &outLeft);
    ::iconv(toUnicode_, nullptr, nullptr, nullptr, nullptr);
    const std::size_t used = bytes.size() - inLeft;
    if (used == 0 || outLeft != 0) return {};
    const char32_t c = unit[0] | (unit[1] << 8) | (unit[2] << 16) | (char32_t{unit[3]} << 24);
    return {c, used};
  }

  bool Encode(char32_t c, std::string& out) {
    unsigned char unit[4] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                             static_cast<unsigned char>(c >> 16),
                             static_cast<unsigned char>(c >> 24)};
    char* in = reinterpret_cast<char*>(unit);
    std::size_t inLeft = sizeof unit;
    char buffer[32];
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const bool ok =
        ::iconv(fromUnicode_, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
        ::iconv(fromUnicode_, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv(fromUnicode_, nullptr, nullptr, nullptr, nullptr);
    if (ok) out.append(buffer, sizeof buffer - outLeft);
    return ok;
  }

 private:
  static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);
  std::string codeSet_;
  iconv_t toUnicode_;
  iconv_t fromUnicode_;
};

// The codec for a code set other than UTF-8, or null when the C library does not know it.
IconvCodec* CodecFor(const std::string& codeSet) {
  if (ReadsAsUtf8(codeSet)) return nullptr;
  thread_local std::unique_ptr<IconvCodec> codec;
  if (!codec || codec->CodeSet() != codeSet) codec = std::make_unique<IconvCodec>(codeSet);
  return codec->Usable() ? codec.get() : nullptr;
}

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

int HexValue(QChar c) {
  return c.unicode() <= '9' ? c.unicode() - '0' : c.unicode() - 'A' + 10;
}

// A piece of a name: one character shown as itself (or as its picture), or bytes shown as \xNN.
struct Piece {
  std::string_view bytes;
  char32_t c;
  bool escaped;
};

std::vector<Piece> SplitName(std::string_view bytes, IconvCodec* codec,
                             const LeadByteSet& leadBytes) {
  std::vector<Piece> pieces;
  std::string again;
  while (!bytes.empty()) {
    const auto first = static_cast<unsigned char>(bytes[0]);
    // A byte below 0x80 is ASCII in every code set, as a path's separators must be, also where
    // the C library's table makes 0x5C a yen sign and 0x7E an overline.
    if (first < 0x80 || codec == nullptr) {
      const Decoded next = codec == nullptr ? NextUtf8(bytes) : Decoded{first, 1};
      const std::size_t length = next.length == 0 ? 1 : next.length;
      pieces.push_back(
          {bytes.substr(0, length), next.c, next.length == 0 || MustBeEscaped(next.c)});
      bytes.remove_prefix(length);
      continue;
    }
    Decoded next = codec->Next(bytes);
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

void AppendEscaped(QString& out, std::string_view bytes) {
  for (char byte : bytes) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(byte));
    out.append(QLatin1String(escape, 4));
  }
}

}  // namespace

QString DecodeBytes(std::string_view bytes) {
  const std::string codeSet = CurrentCodeSetName();
  if (IsUtf8(codeSet)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (CurrentLeadByteSet().Empty() && (codeSet == "ANSI_X3.4-1968" || codeSet.empty())) {
    // The plain C locale: show what is readable as UTF-8 rather than mark every high byte.
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  return DecodeWithIconv(bytes, codeSet);
}

QString DecodeFileName(std::string_view bytes) {
  return DecodeFileName(bytes, CurrentCodeSetName());
}

QString DecodeFileName(std::string_view bytes, const std::string& codeSet) {
  // Most names are printable ASCII: nothing to decode or mark.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char b) { return b >= 0x20 && b < 0x7F && b != '\\'; }))
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  IconvCodec* codec = CodecFor(codeSet);
  const std::vector<Piece> pieces =
      SplitName(bytes, codec, codec != nullptr ? LeadByteSetForCodeSet(codeSet) : LeadByteSet());
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    if (piece.escaped || StartsEscapeLookalike(pieces, i)) {
      AppendEscaped(out, piece.bytes);
    } else if (piece.c < 0x20) {
      out.append(QChar(static_cast<char16_t>(kPictureOfNul + piece.c)));
    } else if (piece.c == 0x7F) {
      out.append(QChar(static_cast<char16_t>(kPictureOfDelete)));
    } else if (QChar::requiresSurrogates(piece.c)) {
      out.append(QChar(QChar::highSurrogate(piece.c)));
      out.append(QChar(QChar::lowSurrogate(piece.c)));
    } else {
      out.append(QChar(static_cast<char16_t>(piece.c)));
    }
  }
  return out;
}

std::string EncodeFileName(const QString& shown) {
  return EncodeFileName(shown, CurrentCodeSetName());
}

std::string EncodeFileName(const QString& shown, const std::string& codeSet) {
  IconvCodec* codec = CodecFor(codeSet);
  std::string out;
  out.reserve(static_cast<std::size_t>(shown.size()));
  for (qsizetype i = 0; i < shown.size();) {
    if (shown[i] == u'\\' && i + 3 < shown.size() && shown[i + 1] == u'x' &&
        IsUpperHexDigit(shown[i + 2].unicode()) && IsUpperHexDigit(shown[i + 3].unicode())) {
      out.push_back(static_cast<char>(HexValue(shown[i + 2]) * 16 + HexValue(shown[i + 3])));
      i += 4;
      continue;
    }
    char32_t c = shown[i].unicode();
    if (shown[i].isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate()) {
      c = QChar::surrogateToUcs4(shown[i], shown[i + 1]);
      ++i;
    }
    ++i;
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

}  // namespace tavrin
