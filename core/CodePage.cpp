#include "CodePage.h"

#include <algorithm>
#include <cctype>

namespace tavrin {

namespace {

LeadByteSet g_current;

// Upper case without '-', '_' and spaces, so "Shift_JIS", "shift-jis" and "SHIFTJIS" agree.
std::string Normalise(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '-' || c == '_' || c == ' ') continue;
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

}  // namespace

LeadByteSet LeadByteSetForCodeSet(std::string_view codeSet) {
  const std::string name = Normalise(codeSet);
  auto is = [&](std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
  };
  if (is({"SHIFTJIS", "SJIS", "CP932", "WINDOWS31J", "MSKANJI", "IBM943", "CSSHIFTJIS"})) {
    return LeadByteSet::ShiftJis();
  }
  if (is({"GBK", "CP936", "GB18030", "BIG5", "BIG5HKSCS", "CP950", "EUCKR", "CP949", "UHC"})) {
    return LeadByteSet().AddRange(0x81, 0xFE);
  }
  if (is({"GB2312", "EUCCN"})) return LeadByteSet().AddRange(0xA1, 0xFE);
  if (is({"EUCJP", "EUCTW"})) return LeadByteSet().AddRange(0x8E, 0x8F).AddRange(0xA1, 0xFE);
  return LeadByteSet();
}

const LeadByteSet& CurrentLeadByteSet() {
  return g_current;
}

void SetCurrentLeadByteSet(const LeadByteSet& set) {
  g_current = set;
}

}  // namespace tavrin
