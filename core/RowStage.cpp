#include "RowStage.h"

#include "Matcher.h"

namespace tavrin::detail {

void RowStage::Run(StageText& text, bool ended, StageText& spare, bool mayOccur,
                   Stretches* inserted) {
  held_.clear();
  if (afterNul_) return;  // all passes unchanged
  const std::size_t size = text.Size();
  const char* const data = text.Data();

  // Occurrences begin before decidedEnd and end by searchEnd.
  const std::size_t length = row_.pattern.size();
  const std::size_t nul = text.MayHoldNul() ? FirstNul(text.View()) : size;
  std::size_t decidedEnd = size;
  if (nul < size) {
    decidedEnd = nul;
    afterNul_ = true;  // the NUL and all after it pass unchanged
  } else if (!ended) {
    // An occurrence beginning in the last length - 1 bytes may go on in the next piece.
    decidedEnd = size + 1 > length ? size + 1 - length : 0;
  }
  const std::size_t searchEnd = std::min(nul, decidedEnd + length - 1);

  Matcher matcher(data, searchEnd, row_.pattern, leadBytes_);
  std::size_t hit = mayOccur ? matcher.Resume(0, odd_) : kNone;
  if (hit == kNone) {
    if (afterNul_) return;
    held_.assign(data + decidedEnd, size - decidedEnd);
    text.Truncate(decidedEnd);
    const std::size_t back = text.RunStart(0, decidedEnd, leadBytes_);
    odd_ = ((decidedEnd - back) + (back == 0 && odd_ ? 1 : 0)) % 2 != 0;
    return;
  }

  spare.Clear();
  std::string& out = spare.Bytes();
  const bool oneByte = length == 1;
  std::size_t pos = 0;
  for (; hit != kNone; hit = matcher.Next(pos)) {
    out.append(data + pos, hit - pos);
    const std::size_t count = oneByte ? RunLength(data, hit, searchEnd, row_.pattern[0]) : 1;
    const std::size_t begin = out.size();
    if (oneByte && row_.replacement.size() == 1) {
      out.append(count, row_.replacement[0]);
    } else {
      for (std::size_t k = 0; k < count; ++k) out.append(row_.replacement);
    }
    Note(inserted, begin - spare.Room(), out.size() - spare.Room());
    pos = hit + count * length;
  }
  spare.SetMayHoldNul(text.MayHoldNul() || row_.insertsNul);
  if (afterNul_) {
    out.append(data + pos, size - pos);
  } else {
    const std::size_t end = std::max(pos, decidedEnd);
    out.append(data + pos, end - pos);
    held_.assign(data + end, size - end);
    // Counted back no further than the last occurrence, whose end is a search position.
    const std::size_t back = text.RunStart(pos, end, leadBytes_);
    odd_ = (end - back) % 2 != 0;
    if (back > pos) spare.SetRunStart(spare.Size() - (end - back));
  }
  text.Swap(spare);
}

}  // namespace tavrin::detail
