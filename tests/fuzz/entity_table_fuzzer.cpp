// Loading a table from any bytes: the first byte picks the lead-byte set, the rest is the
// contents of a table file. The result must equal the table built step by step with the plain
// routines, and keep the shape the format promises.
#include <cstdint>
#include <string>
#include <string_view>

#include "EntityTable.h"
#include "FuzzSupport.h"
#include "TavrinReference.h"

namespace {

using namespace tavrin;

constexpr std::string_view kEscapes[][2] = {
    {"&tavri:ret;", "\r\n"}, {"&tavri:tab;", "\t"}, {"&tavri:nil;", ""},
    {"&tavri:spe;", " "},    {"&tavri:equ;", "="},
};

ArrayOfArrayOfString PlainTable(const std::string& text, const LeadByteSet& lead) {
  const std::string withoutLf = reference::ReplaceAll(text, "\n", "", lead);
  ArrayOfArrayOfString table;
  for (const std::string& line : fuzz::PlainSplit(withoutLf, '\r')) {
    ArrayOfString row = fuzz::PlainSplit(line, '=');
    for (std::string& field : row) {
      for (const auto& escape : kEscapes) {
        field = reference::ReplaceAll(field, escape[0], escape[1], lead);
      }
    }
    table.push_back(std::move(row));
  }
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const LeadByteSet lead = fuzz::LeadBytesFor(data[0]);
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const ArrayOfArrayOfString table = ParseEntityTable(text, lead);

  TAVRIN_FUZZ_CHECK(!table.empty());
  for (const ArrayOfString& row : table) TAVRIN_FUZZ_CHECK(!row.empty());
  TAVRIN_FUZZ_CHECK(table == PlainTable(text, lead));

  // Without escapes the fields are the line's pieces as cut: none holds a separator, and only
  // a row's last field can be empty. Deleting LF can join an escape ("&" LF "tavri:..."), so
  // the text is looked at as it is cut.
  if (reference::ReplaceAll(text, "\n", "", lead).find("&tavri:") == std::string::npos) {
    for (const ArrayOfString& row : table) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        TAVRIN_FUZZ_CHECK(row[i].find_first_of("\r=") == std::string::npos);
        TAVRIN_FUZZ_CHECK(!row[i].empty() || i + 1 == row.size());
      }
    }
    // Every LF goes when nothing can hide one: no NUL before it, no lead byte in front of it.
    if (lead.Empty() && text.find('\0') == std::string::npos) {
      for (const ArrayOfString& row : table) {
        for (const std::string& field : row)
          TAVRIN_FUZZ_CHECK(field.find('\n') == std::string::npos);
      }
    }
  }
  return 0;
}
