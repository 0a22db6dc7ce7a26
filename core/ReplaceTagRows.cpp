#include <cstring>
#include <string>
#include <vector>

#include "ConversionParts.h"

namespace tavrin::detail {

RowResult ReplaceTagRows(std::string& text, std::size_t searchEnd,
                         const std::vector<const Row*>& rows, const LeadByteSet& leadBytes,
                         std::string& spare, Stretches* inserted) {
  // The bytes that follow the '<' of some pattern: most tags in a text are none of the rows'.
  bool second[256] = {};
  for (const Row* row : rows) second[static_cast<unsigned char>(row->pattern[1])] = true;
  const char* const data = text.data();
  const bool checkLeads = !leadBytes.Empty();
  std::size_t pos = 0;  // the search position
  bool changed = false;
  for (std::size_t from = 0; from + 1 < searchEnd;) {
    const void* open = std::memchr(data + from, '<', searchEnd - 1 - from);
    if (open == nullptr) break;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(open) - data);
    from = at + 1;
    if (!second[static_cast<unsigned char>(data[at + 1])]) continue;
    const Row* found = nullptr;
    for (const Row* row : rows) {
      const std::string_view pattern = row->pattern;
      if (searchEnd - at >= pattern.size() &&
          std::memcmp(data + at, pattern.data(), pattern.size()) == 0) {
        found = row;  // no other pattern can occur here but the same one again
        break;
      }
    }
    if (found == nullptr) continue;
    if (checkLeads) {
      std::size_t back = at;
      while (back > pos && leadBytes.Contains(static_cast<unsigned char>(data[back - 1]))) --back;
      if ((at - back) % 2 != 0) continue;  // the second byte of a character
    }
    if (!changed) {
      spare.clear();
      spare.reserve(text.size() + text.size() / 8 + 64);
      changed = true;
    }
    spare.append(data + pos, at - pos);
    const std::size_t begin = spare.size();
    spare.append(found->replacement);
    Note(inserted, begin, spare.size());
    pos = at + found->pattern.size();
    from = pos;
  }
  if (!changed) return {false, searchEnd};
  spare.append(data + pos, text.size() - pos);
  const std::size_t after = text.size() - searchEnd;
  text.swap(spare);
  return {true, text.size() - after};
}

}  // namespace tavrin::detail
