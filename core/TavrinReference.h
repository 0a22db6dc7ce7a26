// Slow, obviously correct versions of the conversion routines, written straight from their
// rules. The fast routines in TavrinFunctions are compared with these by the tests and measured
// beside them by the benchmarks.
#pragma once

#include <string>
#include <string_view>

#include "CodePage.h"
#include "VBLikeFunctions.h"

namespace tavrin::reference {

// Tries every candidate position in turn and counts the lead bytes before it afresh each time.
std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement, const LeadByteSet& lead);

// One byte at a time, with one bit of state.
std::string RemoveTags(std::string_view text);

// One whole pass of ReplaceAll per row, then RemoveTags.
std::string Convert(std::string text, const ArrayOfArrayOfString& table, const LeadByteSet& lead);

}  // namespace tavrin::reference
