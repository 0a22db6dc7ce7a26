// The conversion of any text with any table, against the plain routines.
//
// Input: one flag byte, then the table, then 0x1D, then the text (no 0x1D: an empty table and
// the whole rest as text). Flag bit 0 picks the Shift-JIS lead bytes; bit 3 set gives the table
// as raw rows (rows cut at 0x1E, fields at 0x1F, so fields can hold any other byte), clear as
// the contents of a table file; bits 1-2 pick the piece size of the piecewise converter, bits
// 4-7 the chunk size (1 to 16 bytes) of the conversion in chunks. The text's length modulo 8 is
// how long a stretch without a cut may wait in a second conversion in chunks before it goes
// row by row.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "EntityTable.h"
#include "FuzzSupport.h"
#include "TavrinFunctions.h"
#include "TavrinReference.h"

namespace {

using namespace tavrin;

// Rows that could blow a text up beyond this are left out: the plain routines are quadratic
// at worst, and a slow input proves nothing here.
constexpr std::size_t kMaxGrownSize = 1 << 16;
constexpr std::size_t kMaxRows = 12;
constexpr std::size_t kPieceSizes[] = {1, 3, 64, TableConverter::kDefaultPieceSize};

ArrayOfArrayOfString RawTable(std::string_view text) {
  ArrayOfArrayOfString table;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = std::min(text.find('\x1E', start), text.size());
    ArrayOfString row;
    std::string_view line = text.substr(start, end - start);
    std::size_t fieldStart = 0;
    while (true) {
      std::size_t fieldEnd = line.find('\x1F', fieldStart);
      row.emplace_back(line.substr(fieldStart, fieldEnd - fieldStart));
      if (fieldEnd == std::string_view::npos) break;
      fieldStart = fieldEnd + 1;
    }
    table.push_back(std::move(row));
    start = end + 1;
  }
  return table;
}

// The rows from the first on whose worst case keeps the text within kMaxGrownSize.
void KeepGrowthBounded(ArrayOfArrayOfString& table, std::size_t textSize) {
  std::size_t bound = textSize;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ArrayOfString& row = table[i];
    if (i == kMaxRows) {
      table.resize(i);
      return;
    }
    if (row.size() < 2) continue;
    const std::size_t pattern = row[0].substr(0, row[0].find('\0')).size();
    if (pattern == 0 || row[1].size() <= pattern) continue;
    bound += bound / pattern * (row[1].size() - pattern);
    if (bound > kMaxGrownSize) {
      table.resize(i);
      return;
    }
  }
}

void CheckReplaceAll(const std::string& text, const ArrayOfString& row, const LeadByteSet& lead) {
  if (row.size() < 2) return;
  const std::string expected = reference::ReplaceAll(text, row[0], row[1], lead);
  TAVRIN_FUZZ_CHECK(ReplaceAll(text, row[0], row[1], lead) == expected);
  std::string inPlace = text;
  const bool changed = ReplaceAllInPlace(inPlace, row[0], row[1], lead);
  TAVRIN_FUZZ_CHECK(inPlace == expected);
  TAVRIN_FUZZ_CHECK(changed || inPlace == text);
}

void CheckRemoveTags(const std::string& text) {
  const std::string expected = reference::RemoveTags(text);
  TAVRIN_FUZZ_CHECK(expected.find('<') == std::string::npos);
  TAVRIN_FUZZ_CHECK(expected.size() <= text.size());
  TAVRIN_FUZZ_CHECK(RemoveTags(text) == expected);
  std::string inPlace = text;
  RemoveTagsInPlace(inPlace);
  TAVRIN_FUZZ_CHECK(inPlace == expected);
  std::string apart(text.size(), '\xAA');
  apart.resize(static_cast<std::size_t>(RemoveTags(text, apart.data()) - apart.data()));
  TAVRIN_FUZZ_CHECK(apart == expected);
  std::string overItself = text;
  overItself.resize(
      static_cast<std::size_t>(RemoveTags(overItself, overItself.data()) - overItself.data()));
  TAVRIN_FUZZ_CHECK(overItself == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned char flags = data[0];
  const LeadByteSet lead = fuzz::LeadBytesFor(flags);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = rest.find('\x1D');
  const std::string_view tablePart = cut == std::string_view::npos ? "" : rest.substr(0, cut);
  const std::string text(cut == std::string_view::npos ? rest : rest.substr(cut + 1));

  ArrayOfArrayOfString table;
  if (cut != std::string_view::npos) {
    table = (flags & 8) ? RawTable(tablePart) : ParseEntityTable(std::string(tablePart), lead);
  }
  KeepGrowthBounded(table, text.size());

  const std::string expected = reference::Convert(text, table, lead);
  TAVRIN_FUZZ_CHECK(expected.find('<') == std::string::npos);
  if (table.empty()) TAVRIN_FUZZ_CHECK(expected.size() <= text.size());
  TAVRIN_FUZZ_CHECK(ConvertWithTable(text, table, lead) == expected);

  TableConverter converter(table, lead, kPieceSizes[(flags >> 1) & 3]);
  TAVRIN_FUZZ_CHECK(converter.Convert(text) == expected);
  // A converter keeps no trace of the text before: the next one comes out right too.
  const std::string reversed(text.rbegin(), text.rend());
  TAVRIN_FUZZ_CHECK(converter.Convert(reversed) == reference::Convert(reversed, table, lead));

  // In chunks: every chunk end is a place where a match, a tag or a NUL may straddle.
  const std::size_t chunkSize = 1 + (flags >> 4);
  const auto chunked = [&](TableConverter& chunkConverter) {
    std::string out;
    chunkConverter.Start();
    for (std::size_t at = 0; at < text.size(); at += chunkSize) {
      out.append(chunkConverter.Feed(std::string_view(text).substr(at, chunkSize)));
    }
    out.append(chunkConverter.Finish());
    return out;
  };
  TAVRIN_FUZZ_CHECK(chunked(converter) == expected);
  TableConverter rowByRow(table, lead, kPieceSizes[(flags >> 1) & 3], text.size() % 8);
  TAVRIN_FUZZ_CHECK(chunked(rowByRow) == expected);

  // In stretches that end where the text can be cut, each converted apart as if the text began
  // with it, then joined by the state the stretch before leaves: as a big file on two threads.
  std::string joined;
  TableConverter::TextState state;
  const std::unique_ptr<TableConverter> apart = converter.Twin();
  for (std::size_t start = 0, end = 0; start < text.size(); start = end) {
    std::size_t cut = 0;
    for (end = start; cut == 0 && end < text.size();) {
      end = std::min(end + chunkSize, text.size());
      const std::string_view stretch = std::string_view(text).substr(start, end - start);
      cut = end == text.size() ? stretch.size() : converter.LastCut(stretch);
    }
    end = start + cut;
    const std::string_view stretch = std::string_view(text).substr(start, end - start);
    apart->Start(TableConverter::TextState{false, state.afterNul});
    std::string out(apart->Feed(stretch));
    out.append(apart->Finish());
    TableConverter::Ending ending = apart->LastEnding();
    if (state.inTag) {
      out.erase(0, ending.closes ? ending.head : out.size());
      if (!ending.closes) ending.state.inTag = true;
    }
    joined += out;
    state = ending.state;
  }
  TAVRIN_FUZZ_CHECK(joined == expected);

  CheckRemoveTags(text);
  if (!table.empty()) CheckReplaceAll(text, table.front(), lead);
  return 0;
}
