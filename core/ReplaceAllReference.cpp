#include "TavrinReference.h"

namespace tavrin::reference {

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement, const LeadByteSet& lead) {
  pattern = pattern.substr(0, pattern.find('\0'));
  if (text.empty() || pattern.empty()) return std::string(text);
  std::size_t searchEnd = text.find('\0');
  if (searchEnd == std::string_view::npos) searchEnd = text.size();
  std::string result;
  std::size_t pos = 0;
  std::size_t candidate = pos;
  while (candidate + pattern.size() <= searchEnd) {
    bool equal = text.substr(candidate, pattern.size()) == pattern;
    std::size_t run = 0;
    while (candidate - run > pos &&
           lead.Contains(static_cast<unsigned char>(text[candidate - run - 1]))) {
      ++run;
    }
    if (equal && run % 2 == 0) {
      result.append(text.substr(pos, candidate - pos));
      result.append(replacement);
      pos = candidate + pattern.size();
      candidate = pos;
    } else {
      ++candidate;
    }
  }
  result.append(text.substr(pos));
  return result;
}

}  // namespace tavrin::reference
