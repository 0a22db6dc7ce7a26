// Byte-string arrays and the routines that cut and glue them at a one-byte delimiter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

using ArrayOfString = std::vector<std::string>;
using ArrayOfArrayOfString = std::vector<ArrayOfString>;

// Cuts text at every delimiter byte. Leading delimiters are dropped, a run counts as one,
// and only the last element can be empty; the result always has at least one element.
ArrayOfString Split(std::string_view text, char delimiter);

// One Split row per element, same delimiter.
ArrayOfArrayOfString SplitEach(const ArrayOfString& lines, char delimiter);

// Element 0, then delimiter + element for each further one. An empty array gives "".
std::string Join(const ArrayOfString& items, char delimiter);

// One Join per row. A row without elements gives "".
ArrayOfString JoinEach(const ArrayOfArrayOfString& rows, char delimiter);

}  // namespace tavrin
