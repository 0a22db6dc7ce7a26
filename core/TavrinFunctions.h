// The conversion of one text: the table's replacements in order, then tag removal.
#pragma once

#include <string>
#include <string_view>

#include "CodePage.h"
#include "VBLikeFunctions.h"

namespace tavrin {

// Every occurrence of pattern replaced by replacement, left to right, without overlaps and
// without searching inserted text again. Nothing matches at or after the text's first NUL, nor
// on the second byte of a double-byte character. An empty pattern never matches.
std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement,
                       const LeadByteSet& leadBytes = CurrentLeadByteSet());

// The same, in place; returns false (and leaves text untouched, uncopied) when nothing matched.
bool ReplaceAllInPlace(std::string& text, std::string_view pattern, std::string_view replacement,
                       const LeadByteSet& leadBytes = CurrentLeadByteSet());

// Every run from a '<' up to and including the next '>' removed; an unclosed '<' removes the rest.
std::string RemoveTags(std::string_view text);

// In place; the text only ever shrinks.
void RemoveTagsInPlace(std::string& text);

// Each row of the table applied in order (field 0 by field 1), then RemoveTags.
// A row with a single non-empty field has no replacement and is skipped: deleting its
// pattern instead would silently destroy text because of a line lacking its "=".
std::string ConvertWithTable(std::string text, const ArrayOfArrayOfString& table,
                             const LeadByteSet& leadBytes = CurrentLeadByteSet());

}  // namespace tavrin
