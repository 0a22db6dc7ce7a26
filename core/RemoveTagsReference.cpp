#include "TavrinReference.h"

namespace tavrin::reference {

std::string RemoveTags(std::string_view text) {
  std::string result;
  bool inTag = false;
  for (char c : text) {
    if (inTag) {
      if (c == '>') inTag = false;
    } else if (c == '<') {
      inTag = true;
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace tavrin::reference
