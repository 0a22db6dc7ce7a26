#include "EntityTable.h"

#include <string_view>

#include "FileIOTools.h"
#include "TavrinFunctions.h"

namespace tavrin {

namespace {

struct Escape {
  std::string_view code;
  std::string_view decoded;
};

// Decoded once each, in this order: what one step produces is seen only by the steps after it.
constexpr Escape kEscapes[] = {
    {"&tavri:ret;", "\r\n"}, {"&tavri:tab;", "\t"}, {"&tavri:nil;", ""},
    {"&tavri:spe;", " "},    {"&tavri:equ;", "="},
};

}  // namespace

ArrayOfArrayOfString ParseEntityTable(std::string text, const LeadByteSet& leadBytes) {
  ReplaceAllInPlace(text, "\n", "", leadBytes);
  ArrayOfArrayOfString table = SplitEach(Split(text, '\r'), '=');
  for (ArrayOfString& row : table) {
    for (std::string& field : row) {
      for (const Escape& escape : kEscapes) {
        ReplaceAllInPlace(field, escape.code, escape.decoded, leadBytes);
      }
    }
  }
  return table;
}

ArrayOfArrayOfString LoadEntityTable(const std::string& fileName, const LeadByteSet& leadBytes) {
  return ParseEntityTable(ReadFileToString(fileName), leadBytes);
}

}  // namespace tavrin
