#include "VBLikeFunctions.h"

namespace tavrin {

ArrayOfString Split(std::string_view text, char delimiter) {
  ArrayOfString result(1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t next = text.find(delimiter, pos);
    if (next == std::string_view::npos) next = text.size();
    if (next > pos) {
      // A piece of text always lands in the current element; only a delimiter after a
      // non-empty element opens a new one, so runs and leading delimiters vanish.
      result.back().append(text.substr(pos, next - pos));
    }
    if (next < text.size() && !result.back().empty()) result.emplace_back();
    pos = next + 1;
  }
  return result;
}

ArrayOfArrayOfString SplitEach(const ArrayOfString& lines, char delimiter) {
  ArrayOfArrayOfString rows;
  rows.reserve(lines.size());
  for (const std::string& line : lines) rows.push_back(Split(line, delimiter));
  return rows;
}

std::string Join(const ArrayOfString& items, char delimiter) {
  std::string result;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) result.push_back(delimiter);
    result.append(items[i]);
  }
  return result;
}

ArrayOfString JoinEach(const ArrayOfArrayOfString& rows, char delimiter) {
  ArrayOfString result;
  result.reserve(rows.size());
  for (const ArrayOfString& row : rows) result.push_back(Join(row, delimiter));
  return result;
}

}  // namespace tavrin
