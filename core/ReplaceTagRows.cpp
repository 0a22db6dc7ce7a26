#include <cstring>
#include <string>
#include <vector>

#include "ConversionParts.h"

namespace tavrin::detail {

void TagRows::Assign(const Row* const* rows, std::size_t count) {
  count_ = count;
  std::memset(bySecond_, 0, sizeof bySecond_);
  std::memset(byThird_, 0, sizeof byThird_);
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view pattern = rows[k]->pattern;
    const std::uint64_t bit = std::uint64_t{1} << k;
    rows_[k] = rows[k];
    heads_[k] = 0;
    masks_[k] = 0;
    if (pattern.size() <= 8) {
      std::memcpy(&heads_[k], pattern.data(), pattern.size());
      std::memset(&masks_[k], 0xFF, pattern.size());
    }
    bySecond_[static_cast<unsigned char>(pattern[1])] |= bit;
    if (pattern.size() > 2) {
      byThird_[static_cast<unsigned char>(pattern[2])] |= bit;
    } else {
      for (std::uint64_t& third : byThird_) third |= bit;  // "<>": any byte after, or none
    }
  }
}

bool ReplaceTagRows(std::string_view text, std::size_t searchEnd, const TagRows& rows,
                    const LeadByteSet& leadBytes, std::string& out, Stretches* inserted) {
  const char* const data = text.data();
  const bool checkLeads = !leadBytes.Empty();
  std::size_t pos = 0;  // the search position
  bool changed = false;
  for (std::size_t from = 0; from + 1 < searchEnd;) {
    const void* open = std::memchr(data + from, '<', searchEnd - 1 - from);
    if (open == nullptr) break;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(open) - data);
    from = at + 1;
    const Row* found = rows.At(data, at, searchEnd);
    if (found == nullptr) continue;
    if (checkLeads) {
      std::size_t back = at;
      while (back > pos && leadBytes.Contains(static_cast<unsigned char>(data[back - 1]))) --back;
      if ((at - back) % 2 != 0) continue;  // the second byte of a character
    }
    if (!changed) {
      out.clear();
      out.reserve(text.size() + text.size() / 8 + 64);
      changed = true;
    }
    out.append(data + pos, at - pos);
    const std::size_t begin = out.size();
    out.append(found->replacement);
    Note(inserted, begin, out.size());
    pos = at + found->pattern.size();
    from = pos;
  }
  if (changed) out.append(data + pos, text.size() - pos);
  return changed;
}

RowResult ReplaceTagRows(std::string& text, std::size_t searchEnd, const TagRows& rows,
                         const LeadByteSet& leadBytes, std::string& spare, Stretches* inserted) {
  if (!ReplaceTagRows(std::string_view(text), searchEnd, rows, leadBytes, spare, inserted)) {
    return {false, searchEnd};
  }
  const std::size_t after = text.size() - searchEnd;
  text.swap(spare);
  return {true, text.size() - after};
}

}  // namespace tavrin::detail
