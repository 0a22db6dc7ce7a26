// Decoding for display on POSIX systems: the locale's code set names both file contents and
// file names. The C library's iconv knows the code sets that are not UTF-8.
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "ShownText.h"

namespace tavrin::platform {

namespace {

bool IsUtf8(const std::string& codeSet) {
  return codeSet == "UTF-8" || codeSet == "utf-8" || codeSet == "UTF8" || codeSet == "utf8";
}

class IconvCodec : public NameCodec {
 public:
  explicit IconvCodec(std::string codeSet)
      : codeSet_(std::move(codeSet)),
        toUnicode_(::iconv_open("UTF-32LE", codeSet_.c_str())),
        fromUnicode_(::iconv_open(codeSet_.c_str(), "UTF-32LE")) {}
  ~IconvCodec() override {
    if (toUnicode_ != kFailed) ::iconv_close(toUnicode_);
    if (fromUnicode_ != kFailed) ::iconv_close(fromUnicode_);
  }
  IconvCodec(const IconvCodec&) = delete;
  IconvCodec& operator=(const IconvCodec&) = delete;

  const std::string& CodeSet() const { return codeSet_; }
  bool Usable() const { return toUnicode_ != kFailed && fromUnicode_ != kFailed; }

  DecodedCharacter Next(std::string_view bytes) override {
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

  bool Encode(char32_t c, std::string& out) override {
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

}  // namespace

// The C locale's ASCII: text there is read as UTF-8 rather than every high byte marked.
bool ReadsAsUtf8(const std::string& codeSet) {
  return IsUtf8(codeSet) || codeSet.empty() || codeSet == "ANSI_X3.4-1968" || codeSet == "ASCII" ||
         codeSet == "US-ASCII";
}

ValidPart Decode(std::string_view bytes, const std::string& codeSet, std::string& out,
                 InvalidByte invalid) {
  iconv_t cd = ::iconv_open("UTF-8", codeSet.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // A code set the C library does not know: none of it is valid, and it shows as UTF-8.
    return invalid == nullptr ? ValidPart{} : DecodeUtf8(bytes, out, invalid);
  }
  ValidPart part;
  char buffer[16 * 1024];
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    out.append(buffer, sizeof buffer - outLeft);
    if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    if (invalid == nullptr) {
      part.cut = error == EINVAL;  // the input ends inside a character
      break;
    }
    // An invalid or cut-off sequence: its first byte stands for itself.
    invalid(static_cast<unsigned char>(*in), out);
    ++in;
    --inLeft;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  ::iconv_close(cd);
  part.length = bytes.size() - inLeft;
  return part;
}

NameCodec* NameCodecFor(const std::string& codeSet) {
  if (ReadsAsUtf8(codeSet)) return nullptr;
  // Kept open between calls: the search window shows thousands of names.
  thread_local std::unique_ptr<IconvCodec> codec;
  if (!codec || codec->CodeSet() != codeSet) codec = std::make_unique<IconvCodec>(codeSet);
  return codec->Usable() ? codec.get() : nullptr;
}

}  // namespace tavrin::platform
