// The lead-byte set of the user's code page: the byte values that begin a double-byte character.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

class LeadByteSet {
 public:
  constexpr LeadByteSet() = default;

  // The inclusive range [first, last] added to this set.
  constexpr LeadByteSet& AddRange(unsigned char first, unsigned char last) {
    for (unsigned v = first; v <= last; ++v) bits_[v >> 6] |= std::uint64_t{1} << (v & 63);
    return *this;
  }
  constexpr bool Contains(unsigned char byte) const {
    return (bits_[byte >> 6] >> (byte & 63)) & 1;
  }
  constexpr bool Empty() const { return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0; }
  friend constexpr bool operator==(const LeadByteSet&, const LeadByteSet&) = default;

  // 0x81-0x9F and 0xE0-0xFC.
  static constexpr LeadByteSet ShiftJis() {
    LeadByteSet set;
    set.AddRange(0x81, 0x9F).AddRange(0xE0, 0xFC);
    return set;
  }

 private:
  std::array<std::uint64_t, 4> bits_{};
};

// The set for a code-set name as nl_langinfo(CODESET) reports it (Shift_JIS, CP932, UTF-8...).
// Unknown and single-byte names give the empty set.
LeadByteSet LeadByteSetForCodeSet(std::string_view codeSet);

// The user's code set name: the locale's (LC_CTYPE) as read at start, or on Windows "CP" and
// the number of the ANSI code page ("CP932").
std::string CurrentCodeSetName();

// The set in force for this process; empty until InitCodePageFromLocale or SetCurrentLeadByteSet.
const LeadByteSet& CurrentLeadByteSet();
void SetCurrentLeadByteSet(const LeadByteSet& set);

// Reads the user's locale (setlocale(LC_CTYPE, "")) and makes its set the current one. On
// Windows the set is the lead-byte ranges of the ANSI code page (GetCPInfo).
void InitCodePageFromLocale();

}  // namespace tavrin
