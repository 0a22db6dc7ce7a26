#include "TavrinReference.h"

namespace tavrin::reference {

std::string Convert(std::string text, const ArrayOfArrayOfString& table, const LeadByteSet& lead) {
  for (const ArrayOfString& row : table) {
    if (row.size() >= 2) text = reference::ReplaceAll(text, row[0], row[1], lead);
  }
  return reference::RemoveTags(text);
}

}  // namespace tavrin::reference
