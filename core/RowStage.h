// One row's replacement over a text that arrives in pieces, and the pieces passed between rows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "CodePage.h"
#include "ConversionParts.h"

namespace tavrin::detail {

// A piece of text between two stages. It keeps room in front for the bytes that the next stage
// held back from the piece before, so that a stage that finds nothing passes the piece on where
// it is; and where its last run of lead bytes begins, so that the stages after need not count
// it again.
class StageText {
 public:
  explicit StageText(std::size_t room) : room_(room) {}

  void Clear() {
    bytes_.resize(room_);
    begin_ = room_;
    mayHoldNul_ = false;
    runStart_ = kNone;
  }
  const char* Data() const { return bytes_.data() + begin_; }
  std::size_t Size() const { return bytes_.size() - begin_; }
  std::string_view View() const { return {Data(), Size()}; }
  std::size_t Capacity() const { return bytes_.capacity(); }
  std::size_t Room() const { return room_; }
  // Where a stage writes a changed piece: after the room, from Clear on.
  std::string& Bytes() { return bytes_; }

  bool MayHoldNul() const { return mayHoldNul_; }
  void SetMayHoldNul(bool may) { mayHoldNul_ = may; }

  void Append(std::string_view bytes) {
    if (bytes.empty()) return;  // its data may be null, which memchr must not get
    bytes_.append(bytes);
    mayHoldNul_ = mayHoldNul_ || std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
    runStart_ = kNone;
  }

  void Prepend(std::string_view bytes, const LeadByteSet& leadBytes) {
    if (bytes.empty()) return;
    if (begin_ < bytes.size()) {
      bytes_.insert(begin_, room_, '\0');  // not expected: the room holds every stage's bytes
      begin_ += room_;
    }
    begin_ -= bytes.size();
    std::memcpy(bytes_.data() + begin_, bytes.data(), bytes.size());
    if (runStart_ == 0) {
      runStart_ = bytes.size();
      while (runStart_ > 0 &&
             leadBytes.Contains(static_cast<unsigned char>(Data()[runStart_ - 1]))) {
        --runStart_;
      }
    } else if (runStart_ != kNone) {
      runStart_ += bytes.size();
    }
  }

  void Truncate(std::size_t size) {
    bytes_.resize(begin_ + size);
    if (runStart_ != kNone && runStart_ > size) runStart_ = kNone;
  }

  // The start of the run of lead bytes that ends at end, counted back no further than from.
  std::size_t RunStart(std::size_t from, std::size_t end, const LeadByteSet& leadBytes) {
    if (runStart_ != kNone && runStart_ <= end) return std::max(from, runStart_);
    std::size_t back = end;
    while (back > from && leadBytes.Contains(static_cast<unsigned char>(Data()[back - 1]))) --back;
    // Known for good when the count stopped at a byte that is no lead byte or at the start.
    if (end == Size() && (back > from || back == 0)) runStart_ = back;
    return back;
  }
  // The last run of lead bytes begins at start; kNone when not known.
  void SetRunStart(std::size_t start) { runStart_ = start; }

  void Release() {
    std::string().swap(bytes_);
    begin_ = 0;
  }

  void Swap(StageText& other) {
    std::swap(room_, other.room_);
    std::swap(bytes_, other.bytes_);
    std::swap(begin_, other.begin_);
    std::swap(mayHoldNul_, other.mayHoldNul_);
    std::swap(runStart_, other.runStart_);
  }

 private:
  std::size_t room_;
  std::string bytes_;
  std::size_t begin_ = 0;
  bool mayHoldNul_ = false;
  std::size_t runStart_ = kNone;
};

// One row's ReplaceAll over a text that arrives in pieces. Bytes are passed on as soon as no
// later byte can change what becomes of them; held back are only the last bytes, where an
// occurrence may begin that the text so far does not finish. Besides those, the stage keeps
// whether the next byte would be the second byte of a character (an odd run of lead bytes since
// the search position) and whether the searchable part has ended at a NUL.
class RowStage {
 public:
  RowStage(const Row& row, const LeadByteSet& leadBytes) : row_(row), leadBytes_(leadBytes) {}

  void Reset() {
    held_.clear();
    odd_ = false;
    afterNul_ = false;
  }
  // The bytes held back, which come before the next piece.
  const std::string& Held() const { return held_; }
  bool AfterNul() const { return afterNul_; }

  // text is Held() followed by the next piece; leaves in it what is decided, with the
  // replacements (using spare when anything changes), and holds back the rest. With ended, the
  // text ends here and all is decided. Without mayOccur the pattern is known not to occur in
  // text and is not looked for. When inserted is given, it receives the stretches of the new
  // text that the replacements fill.
  void Run(StageText& text, bool ended, StageText& spare, bool mayOccur, Stretches* inserted);

 private:
  const Row& row_;
  const LeadByteSet& leadBytes_;
  std::string held_;
  bool odd_ = false;
  bool afterNul_ = false;
};

}  // namespace tavrin::detail
