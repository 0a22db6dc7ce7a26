// The conversion of one text: the table's replacements in order, then tag removal.
#pragma once

#include <cstddef>
#include <memory>
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

// The same into out, which has room for text.size() bytes and either lies apart from the text
// or is text.data() itself; returns the end of what was written.
char* RemoveTags(std::string_view text, char* out);

// Each row of the table applied in order (field 0 by field 1), then RemoveTags.
// The rows are searched for together: a row whose pattern does not occur costs no pass and no
// copy, and the text is converted in its own buffer wherever the result fits behind the input.
// A row with a single non-empty field has no replacement and is skipped: deleting its
// pattern instead would silently destroy text because of a line lacking its "=".
std::string ConvertWithTable(std::string text, const ArrayOfArrayOfString& table,
                             const LeadByteSet& leadBytes = CurrentLeadByteSet());

// A table made ready for conversion: the rows that can change anything, in a copy of their own,
// and the search for all their patterns at once. Being only read once made, one serves any
// number of converters on any threads.
class PreparedTable;
std::shared_ptr<const PreparedTable> PrepareTable(
    const ArrayOfArrayOfString& table, const LeadByteSet& leadBytes = CurrentLeadByteSet());

// A table made ready for converting one text after another: ConvertWithTable without preparing
// the table's search each time. A converter serves one thread; converters of the same table on
// several threads share one prepared table and have only their working buffers of their own.
class TableConverter {
 public:
  // The text is worked through in pieces of about pieceSize bytes, cut only where no occurrence
  // of any pattern can straddle the cut; small pieces stay in the processor's cache.
  static constexpr std::size_t kDefaultPieceSize = 64 * 1024;
  // In a text converted in chunks, a stretch with no place to cut waits for one up to this
  // size; a longer one goes through the rows one by one as it comes (slower, but in memory
  // bounded by the table).
  static constexpr std::size_t kDefaultMaxWaiting = std::size_t{1} << 20;

  explicit TableConverter(std::shared_ptr<const PreparedTable> table,
                          std::size_t pieceSize = kDefaultPieceSize,
                          std::size_t maxWaiting = kDefaultMaxWaiting);
  // With a prepared table of its own.
  explicit TableConverter(const ArrayOfArrayOfString& table,
                          const LeadByteSet& leadBytes = CurrentLeadByteSet(),
                          std::size_t pieceSize = kDefaultPieceSize,
                          std::size_t maxWaiting = kDefaultMaxWaiting);
  TableConverter(const TableConverter&) = delete;
  TableConverter& operator=(const TableConverter&) = delete;
  ~TableConverter();

  // The same result as ConvertWithTable(text, table, leadBytes).
  std::string Convert(std::string text);

  // The same conversion for a text that arrives in chunks, so that a text of any size needs
  // memory only for about one chunk: Start, then Feed with each chunk in order, then Finish.
  // Each call returns the converted bytes that are final so far (a view that lasts until the next
  // call); joined, they equal Convert on the whole text. The bytes after the last place where no
  // occurrence can straddle wait for the next chunk, up to maxWaiting of them (text made only of
  // pattern and lead bytes); beyond that, and throughout when a replacement holds a NUL, the
  // rows are applied one by one as the text comes, each holding back less than its pattern.
  void Start();
  std::string_view Feed(std::string_view chunk);
  std::string_view Finish();

  // How many times a single row's pattern was searched for in a stretch of text during the last
  // conversion (since Convert or Start): the work that the search for all rows at once spares.
  std::size_t RowPasses() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavrin
