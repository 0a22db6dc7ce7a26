#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "ConversionParts.h"
#include "MultiPatternSearch.h"
#include "RowStage.h"
#include "TavrinFunctions.h"

namespace tavrin {

using detail::FirstNul;
using detail::kNone;
using detail::ReplaceRow;
using detail::ReplaceRowStripped;
using detail::ReplaceTokenRows;
using detail::ReplaceTokenRowsStripped;
using detail::Row;
using detail::RowResult;
using detail::RowStage;
using detail::Searchable;
using detail::StageText;
using detail::Stretches;
using detail::StripTags;
using detail::Target;
using detail::TokenPass;
using detail::TokenRows;
using detail::TwoTokenRuns;

namespace {

// The rows that can change anything, their bytes gathered into bytes, which must not change
// afterwards: one buffer costs far less than a string per field in a table of a million rows.
std::vector<Row> ActiveRows(const ArrayOfArrayOfString& table, std::string& bytes) {
  const auto active = [](const ArrayOfString& row) {
    return row.size() >= 2 && !Searchable(row[0]).empty();  // no replacement: see the header
  };
  std::size_t size = 0;
  std::size_t count = 0;
  for (const ArrayOfString& row : table) {
    if (!active(row)) continue;
    size += Searchable(row[0]).size() + row[1].size();
    ++count;
  }
  bytes.reserve(size);
  std::vector<Row> rows;
  rows.reserve(count);
  for (const ArrayOfString& row : table) {
    if (!active(row)) continue;
    const std::string_view pattern = Searchable(row[0]);
    const std::size_t at = bytes.size();
    bytes.append(pattern).append(row[1]);
    const std::string_view both(bytes.data() + at, pattern.size() + row[1].size());
    rows.push_back({both.substr(0, pattern.size()), both.substr(pattern.size()),
                    row[1].find('\0') != std::string::npos});
  }
  return rows;
}

// Whether the pattern is one token: an opening byte, bytes other than it and the closing byte,
// then the closing byte, neither of the two a lead byte.
bool IsToken(std::string_view pattern, const LeadByteSet& lead) {
  if (pattern.size() < 2) return false;
  const char open = pattern.front();
  const char close = pattern.back();
  return open != close && !lead.Contains(static_cast<unsigned char>(open)) &&
         !lead.Contains(static_cast<unsigned char>(close)) &&
         pattern.substr(1, pattern.size() - 2).find_first_of(std::string{open, close}) ==
             std::string_view::npos;
}

// Whether the row can be one of TokenRows, alone.
bool TokenAlone(const Row& row, const LeadByteSet& lead) {
  if (!IsToken(row.pattern, lead) || row.replacement.empty()) return false;
  const char bytes[] = {row.pattern.front(), row.pattern.back(), '\0'};
  return row.replacement.find_first_of(std::string_view(bytes, 3)) == std::string_view::npos;
}

// Whether the row's replacement is made only of lead bytes (so that a run of them before an
// occurrence may go on before the replacement).
bool AllLeads(const Row& row, const LeadByteSet& lead) {
  for (const char c : row.replacement) {
    if (!lead.Contains(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The runs of rows that TokenRows takes together: patterns that are tokens with the same two
// bytes; replacements that are not empty, hold no NUL and neither of the two bytes, and do not
// occur within the pattern of a later row of the run. A later pattern's occurrence that takes
// in an earlier replacement would have to hold all of it, since it has neither of the two bytes;
// so none can be made. The table's last row makes nothing for a row after it, so its replacement
// may be empty or hold the two bytes. For each row, where its run ends (the row after it when it
// is in none).
std::vector<std::size_t> TokenGroups(const std::vector<Row>& rows, const LeadByteSet& lead) {
  constexpr std::size_t kLookedFor = 64;
  std::vector<std::size_t> groupEnd(rows.size());
  std::size_t start = 0;
  // The first bytes of the run's replacements: a pattern without any of them holds none.
  std::array<bool, 256> replacementStarts{};
  const auto fits = [&](std::size_t i) {
    const Row& row = rows[i];
    if (start < i) {
      const std::string_view first = rows[start].pattern;
      if (first.front() != row.pattern.front() || first.back() != row.pattern.back()) {
        return false;
      }
    }
    for (const char c : row.pattern) {
      if (!replacementStarts[static_cast<unsigned char>(c)]) continue;
      // Looked for in so many replacements, a table of many rows would take long to prepare:
      // past the first few, such a row begins a new run.
      if (i - start >= kLookedFor) return false;
      for (std::size_t j = start; j < i; ++j) {
        if (row.pattern.find(rows[j].replacement) != std::string_view::npos) return false;
      }
      break;
    }
    return true;
  };
  const auto close = [&](std::size_t end) {
    for (std::size_t i = start; i < end; ++i) groupEnd[i] = end;
    start = end;
    replacementStarts.fill(false);
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const bool last = i + 1 == rows.size() && IsToken(row.pattern, lead) && !row.insertsNul;
    if (!last && !TokenAlone(row, lead)) {
      close(i);
      close(i + 1);
      continue;
    }
    if (i - start == TokenRows::kMost || !fits(i)) close(i);
    if (!row.replacement.empty()) {
      replacementStarts[static_cast<unsigned char>(row.replacement[0])] = true;
    }
  }
  close(rows.size());
  return groupEnd;
}

// Whether some row's replacement is longer than its pattern.
bool AnyGrows(const std::vector<const Row*>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const Row* row) { return row->replacement.size() > row->pattern.size(); });
}

// The patterns of rows[from, end) with their rows' indexes.
std::vector<MultiPatternSearch::Entry> Entries(const std::vector<Row>& rows, std::size_t from = 0) {
  std::vector<MultiPatternSearch::Entry> entries;
  for (std::size_t i = from; i < rows.size(); ++i) {
    entries.emplace_back(rows[i].pattern, static_cast<std::uint32_t>(i));
  }
  return entries;
}

// Whether rows[0, split), whole tags, and rows[split, end), one run of TokenRows of another pair
// of bytes (a run of one row that is no token is not), give in one pass what the first run's pass
// and then the second's give: no pattern of either run holds a byte of the other's pair, so
// occurrences of the two never overlap; and an occurrence of the second run never takes in a
// replacement of the first, which either holds neither of the second pair's bytes and lies within
// no pattern of the second run, or is one token of that pair that no pattern of the second run
// equals.
bool TwoRunsFit(const std::vector<Row>& rows, std::size_t split, const LeadByteSet& lead) {
  const char open = rows[split].pattern.front();
  const char close = rows[split].pattern.back();
  if (open == '<' || open == '>' || close == '<' || close == '>') return false;
  const char tokenBytes[] = {open, close};
  const std::string_view both(tokenBytes, 2);
  for (std::size_t i = split; i < rows.size(); ++i) {
    const std::string_view pattern = rows[i].pattern;
    if (!IsToken(pattern, lead) || pattern.front() != open || pattern.back() != close ||
        pattern.find_first_of("<>") != std::string_view::npos) {
      return false;
    }
  }
  for (std::size_t t = 0; t < split; ++t) {
    if (rows[t].pattern.find_first_of(both) != std::string_view::npos) return false;
    const std::string_view made = rows[t].replacement;
    const bool holdsPair = made.find_first_of(both) != std::string_view::npos;
    bool fits;
    if (!holdsPair) {
      fits = true;
      for (std::size_t i = split; i < rows.size() && fits; ++i) {
        fits = rows[i].pattern.find(made) == std::string_view::npos;
      }
    } else {
      fits = made.size() >= 2 && made.front() == open && made.back() == close &&
             made.substr(1, made.size() - 2).find_first_of(both) == std::string_view::npos;
      for (std::size_t i = split; i < rows.size() && fits; ++i) fits = rows[i].pattern != made;
    }
    if (!fits) return false;
  }
  return true;
}

}  // namespace

namespace {

// The converted bytes of one chunk. Unlike a string it is not zero-filled when it grows, since
// tag removal writes it straight away.
class OutputBuffer {
 public:
  void Clear() { size_ = 0; }
  // Room for size more bytes.
  char* Room(std::size_t size) {
    if (capacity_ - size_ < size) Grow(size_ + size);
    return data_.get() + size_;
  }
  void EndAt(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
  std::string_view View() const { return {data_.get(), size_}; }
  void ReleaseIfAbove(std::size_t capacity) {
    if (capacity_ <= capacity) return;
    data_.reset();
    capacity_ = size_ = 0;
  }

 private:
  void Grow(std::size_t need) {
    const std::size_t capacity = std::max(need, 2 * capacity_);
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (size_ != 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace

// The table's rows that can change anything and the search for their patterns, made once and
// then only read.
class PreparedTable {
 public:
  PreparedTable(const ArrayOfArrayOfString& table, const LeadByteSet& lead)
      : leadBytes(lead), rows(ActiveRows(table, bytes)), search(Entries(rows)) {
    // A cut after a byte that no pattern holds and that begins no character cannot fall inside
    // any occurrence at any stage, nor change which lead bytes count before a later candidate:
    // the pieces between such cuts convert independently.
    for (unsigned b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      cut[b] = !search.InSomePattern(byte) && !lead.Contains(byte);
    }
    // A replacement holding a NUL would end the searchable part for the rows after it, in
    // every later piece too; such a table goes the plain way: whole passes, or in chunks the
    // stages below.
    for (const Row& row : rows) {
      wholePasses = wholePasses || row.insertsNul;
      room += row.pattern.size() - 1;
    }
    tokenGroupEnd = TokenGroups(rows, lead);
    // A run of one row is not always a token: TokenRows may take the last run alone only if it is.
    if (!rows.empty()) {
      const Row& lastRow = rows.back();
      lastRunIsTokens = (rows.size() >= 2 && tokenGroupEnd[rows.size() - 2] == rows.size()) ||
                        (IsToken(lastRow.pattern, lead) && !lastRow.insertsNul);
    }
    // Tags are what dense markup is made of: when the table begins with rows of whole tags,
    // a pass for them alone runs first on every piece, and the search for the other rows
    // need not stop at every '<'. Its replacements must not be made only of lead bytes, so
    // that the pass never gives up.
    std::vector<const Row*> leading;
    if (!rows.empty() && rows[0].pattern.front() == '<' && rows[0].pattern.back() == '>' &&
        TokenAlone(rows[0], lead)) {
      while (leadingTagCount < tokenGroupEnd[0] && !AllLeads(rows[leadingTagCount], lead)) {
        leading.push_back(&rows[leadingTagCount++]);
      }
    }
    if (leadingTagCount != 0) {
      leadingTags.Assign(leading.data(), leading.size(), lead);
      searchAfterTags = std::make_unique<const MultiPatternSearch>(Entries(rows, leadingTagCount));
    }
    // Markup with a table of tags and then entities, the usual kind: both in one pass.
    if (leadingTagCount != 0 && leadingTagCount < rows.size() && !wholePasses &&
        tokenGroupEnd[leadingTagCount] == rows.size() &&
        rows.size() - leadingTagCount <= TokenRows::kMost &&
        TwoRunsFit(rows, leadingTagCount, lead)) {
      std::vector<const Row*> others;
      for (std::size_t i = leadingTagCount; i < rows.size(); ++i) others.push_back(&rows[i]);
      for (const Row& row : rows) {
        growth = std::max(growth,
                          (row.replacement.size() + row.pattern.size() - 1) / row.pattern.size());
      }
      twoRuns = std::make_unique<TwoTokenRuns>();
      twoRuns->Assign(leading.data(), leading.size(), others.data(), others.size(), lead);
    }
  }

  // The search for the rows after the leading tag rows.
  const MultiPatternSearch& SearchAfterTags() const {
    return searchAfterTags ? *searchAfterTags : search;
  }

  // Known only in this file and only read, so the converters use the fields directly.
  std::string bytes;  // rows points into it
  const LeadByteSet leadBytes;
  const std::vector<Row> rows;
  const MultiPatternSearch search;
  std::array<bool, 256> cut{};
  bool wholePasses = false;
  // What the stages hold back at most, all together.
  std::size_t room = 0;
  // For each row, the end of the run of rows from it on that ReplaceTokenRows takes together.
  std::vector<std::size_t> tokenGroupEnd;
  bool lastRunIsTokens = false;
  // The rows [0, leadingTagCount), which TokenRows takes together, and the search for the others.
  std::size_t leadingTagCount = 0;
  TokenRows leadingTags;
  std::unique_ptr<const MultiPatternSearch> searchAfterTags;
  // All the rows in one pass, when they are tags and then one run of other tokens; the most a
  // row makes of each byte of its pattern.
  std::unique_ptr<TwoTokenRuns> twoRuns;
  std::size_t growth = 1;
};

std::shared_ptr<const PreparedTable> PrepareTable(const ArrayOfArrayOfString& table,
                                                  const LeadByteSet& leadBytes) {
  return std::make_shared<const PreparedTable>(table, leadBytes);
}

// A converter's own state and buffers, around a table that it shares.
class TableConverter::Impl {
 public:
  Impl(std::shared_ptr<const PreparedTable> table, std::size_t pieceSize, std::size_t maxWaiting)
      : table_(std::move(table)),
        leadBytes_(table_->leadBytes),
        pieceSize_(pieceSize > 0 ? pieceSize : 1),
        maxWaiting_(maxWaiting),
        rows_(table_->rows),
        search_(table_->search),
        searchAfterTags_(table_->SearchAfterTags()),
        leadingTagCount_(table_->leadingTagCount),
        cut_(table_->cut),
        wholePasses_(table_->wholePasses),
        tokenGroupEnd_(table_->tokenGroupEnd),
        twoRuns_(table_->twoRuns.get()) {
    for (StageText& text : stageTexts_) StageText(table_->room).Swap(text);
    ReadyForText();
  }

  std::string Convert(std::string text);

  void Start(TextState state = {});
  std::string_view Feed(std::string_view chunk);
  std::string_view Finish();
  std::size_t RowPasses() const { return rowPasses_; }
  const Ending& LastEnding() const { return ending_; }
  std::size_t LastCut(std::string_view text) const {
    if (wholePasses_) return 0;
    std::size_t last = text.size();
    while (last > 0 && !cut_[static_cast<unsigned char>(text[last - 1])]) --last;
    return last;
  }
  std::unique_ptr<TableConverter> Twin() const {
    return std::make_unique<TableConverter>(table_, pieceSize_, maxWaiting_);
  }

  // The working buffers are kept for the next text, unless a large text left them large.
  void ReleaseLargeBuffers() {
    for (std::string* buffer : {&piece_, &spare_}) {
      if (buffer->capacity() > 4 * (pieceSize_ + search_.MaxLength())) std::string().swap(*buffer);
    }
    // Chunks of a file are a few MiB; a stretch without cuts may have left these far larger.
    constexpr std::size_t kKept = std::size_t{16} << 20;
    if (tail_.capacity() > kKept) std::string().swap(tail_);
    for (StageText& text : stageTexts_) {
      if (text.Capacity() > kKept) text.Release();
    }
    out_.ReleaseIfAbove(kKept);
  }

 private:
  std::size_t NextCut(const char* data, std::size_t from, std::size_t limit) const;
  std::string_view ConvertPiece(std::string_view piece, bool* stripped = nullptr);
  bool ApplyRows(std::string& text, std::size_t searchEnd, std::size_t firstRow,
                 bool toOut = false);
  void GatherMarked(std::size_t from, std::size_t end);
  TokenPass StripMarked(std::string_view text, std::size_t searchEnd);
  TokenPass StripAllRows(std::string_view piece);
  void Watched(char* closedAt);
  void ConvertSpan(std::string_view span);
  void ConvertWithTail(std::string_view rest);
  void FeedPieces(std::string_view chunk);
  void StripToOut(std::string_view text);
  void ReadyForText();
  void EnterStages();
  std::string_view FeedStages(std::string_view chunk);
  void PushThroughStages(std::string_view text, bool ended);

  const std::shared_ptr<const PreparedTable> table_;
  const LeadByteSet& leadBytes_;
  const std::size_t pieceSize_;
  const std::size_t maxWaiting_;
  const std::vector<Row>& rows_;
  const MultiPatternSearch& search_;
  const MultiPatternSearch& searchAfterTags_;
  const std::size_t leadingTagCount_;
  const std::array<bool, 256>& cut_;
  const bool wholePasses_;
  const std::vector<std::size_t>& tokenGroupEnd_;
  const TwoTokenRuns* const twoRuns_;

  // Reused from piece to piece.
  PatternMarks marks_;
  std::string piece_;
  std::string spare_;
  Stretches inserted_;
  std::vector<const Row*> tokenRows_;
  // Made at the first need: a few KiB, which most converters never use.
  std::unique_ptr<TokenRows> tokenGroup_;
  std::size_t rowPasses_ = 0;

  // The text converted in chunks: the bytes after the last cut so far, whether its first NUL
  // has gone by, whether a tag is open, and the converted bytes of the current call.
  std::string tail_;
  bool afterNul_ = false;
  bool inTag_ = false;
  OutputBuffer out_;
  // The converted bytes returned by earlier calls since Start, and how the text ended so far.
  std::size_t outBefore_ = 0;
  Ending ending_;

  // The fallback for a text in chunks: one ReplaceAll stage per row, each passing on what it has
  // decided, the text going through them a piece at a time. It needs no cuts, and it keeps only
  // a pattern's length per row, so memory stays bounded whatever the text. The fused pieces are
  // faster, so it serves only where they would hold an unbounded stretch: a stretch without a
  // cut longer than maxWaiting_ (until the next cut), or every text when a replacement holds a
  // NUL (which ends the search for later rows in all later text).
  std::vector<RowStage> stages_;
  bool staged_ = false;
  StageText stageTexts_[2] = {StageText(0), StageText(0)};
};

// The end of the piece that starts at from: the first cut at or after from + pieceSize_, or limit.
std::size_t TableConverter::Impl::NextCut(const char* data, std::size_t from,
                                          std::size_t limit) const {
  if (limit - from <= pieceSize_) return limit;
  for (std::size_t at = from + pieceSize_; at < limit; ++at) {
    if (cut_[static_cast<unsigned char>(data[at - 1])]) return at;
  }
  return limit;
}

// Every marked row in order on text[0, searchEnd). Where a row inserted its replacement, the
// rows after it may find new occurrences that begin up to a pattern's length before the
// insertion or inside it; only there is the text looked at again.
//
// With toOut, the last pass (of the table's last row, or of a run of rows up to it, when it does
// not make the text grow) and the tag removal after it go together straight to out_, the text
// left as it was: then it returns true.
bool TableConverter::Impl::ApplyRows(std::string& text, std::size_t searchEnd, std::size_t firstRow,
                                     bool toOut) {
  const std::size_t reach = search_.MaxLength() - 1;
  // Rows before this go one by one: their run's pass gave up.
  std::size_t oneByOne = 0;
  for (std::size_t i = marks_.Next(firstRow); i < rows_.size();) {
    const std::size_t groupEnd = i < oneByOne ? i + 1 : tokenGroupEnd_[i];
    GatherMarked(i, groupEnd);
    const bool last = groupEnd == rows_.size();
    inserted_.clear();
    ++rowPasses_;
    RowResult result;
    std::size_t next = i + 1;
    if (tokenRows_.size() > 1) {
      // Rows of whole tags or entities, which markup holds everywhere: one pass for all of them.
      if (toOut && last && !AnyGrows(tokenRows_)) {
        // The last pass: with the tag removal, straight to out_.
        const TokenPass pass = StripMarked(text, searchEnd);
        if (pass != TokenPass::kGaveUp) return pass == TokenPass::kChanged;
        oneByOne = groupEnd;
        continue;
      }
      if (!tokenGroup_) tokenGroup_ = std::make_unique<TokenRows>();
      tokenGroup_->Assign(tokenRows_.data(), tokenRows_.size(), leadBytes_);
      result = ReplaceTokenRows(text, searchEnd, *tokenGroup_, leadBytes_, spare_,
                                last ? nullptr : &inserted_);
      if (result.gaveUp) {
        oneByOne = groupEnd;
        continue;
      }
      next = groupEnd;
    } else {
      const Row& row = rows_[i];
      if (toOut && i + 1 == rows_.size() && row.replacement.size() <= row.pattern.size()) {
        char* const out = out_.Room(text.size());
        out_.EndAt(ReplaceRowStripped(text, searchEnd, row.pattern, row.replacement, leadBytes_,
                                      out, inTag_));
        return true;
      }
      result = ReplaceRow(text, searchEnd, row.pattern, row.replacement, leadBytes_, spare_,
                          i + 1 == rows_.size() ? nullptr : &inserted_);
    }
    if (result.changed) {
      searchEnd = result.searchEnd;
      const std::string_view searchable(text.data(), searchEnd);
      std::size_t looked = 0;
      for (const auto& [begin, end] : inserted_) {
        const std::size_t from = std::max(looked, begin > reach ? begin - reach : 0);
        looked = end;
        searchAfterTags_.MarkOccurrences(searchable, from, looked, marks_);
      }
    }
    i = marks_.Next(next);
  }
  return false;
}

// The marked rows of [from, end), from marked, into tokenRows_.
void TableConverter::Impl::GatherMarked(std::size_t from, std::size_t end) {
  tokenRows_.clear();
  for (std::size_t j = from; j < end; j = marks_.Next(j + 1)) tokenRows_.push_back(&rows_[j]);
}

// The rows of tokenRows_, which end the table and do not make the text grow, in one pass with
// the tag removal, straight to out_; what a pass that gave up or changed nothing wrote is left out.
TokenPass TableConverter::Impl::StripMarked(std::string_view text, std::size_t searchEnd) {
  if (!tokenGroup_) tokenGroup_ = std::make_unique<TokenRows>();
  tokenGroup_->Assign(tokenRows_.data(), tokenRows_.size(), leadBytes_);
  char* out = out_.Room(text.size());
  char* closedAt = nullptr;
  const TokenPass pass = ReplaceTokenRowsStripped(text, searchEnd, *tokenGroup_, leadBytes_, out,
                                                  inTag_, ending_.closes ? nullptr : &closedAt);
  if (pass == TokenPass::kChanged) {
    out_.EndAt(out);
    Watched(closedAt);
  }
  return pass;
}

// Every row of a table of tags and then entities in one pass with the tag removal, straight to
// out_, as StripMarked.
TokenPass TableConverter::Impl::StripAllRows(std::string_view piece) {
  char* out = out_.Room(piece.size() * table_->growth);
  char* closedAt = nullptr;
  const TokenPass pass = ReplaceTokenRowsStripped(piece, piece.size(), *twoRuns_, leadBytes_, out,
                                                  inTag_, ending_.closes ? nullptr : &closedAt);
  if (pass == TokenPass::kChanged) {
    out_.EndAt(out);
    Watched(closedAt);
  }
  return pass;
}

// Where the text's first '>' went to out_, when a pass straight to out_ has just written it.
void TableConverter::Impl::Watched(char* closedAt) {
  if (closedAt == nullptr) return;
  ending_.closes = true;
  ending_.head = outBefore_ + static_cast<std::size_t>(closedAt - out_.View().data());
}

// The piece with the rows applied: the piece itself when none changes it, else piece_. Given
// stripped, the rows may instead put it in out_ with its tags removed (see ApplyRows), and then
// set it.
std::string_view TableConverter::Impl::ConvertPiece(std::string_view piece, bool* stripped) {
  if (twoRuns_ != nullptr && stripped != nullptr) {
    ++rowPasses_;
    const TokenPass pass = StripAllRows(piece);
    if (pass == TokenPass::kUnchanged) return piece;
    if (pass == TokenPass::kChanged) {
      *stripped = true;
      return {};
    }
    // It gave up: the runs one after the other.
  }
  marks_.Reset(rows_.size());
  bool copied = false;
  if (leadingTagCount_ != 0) {
    ++rowPasses_;
    for (std::size_t i = 0; i < leadingTagCount_; ++i) marks_.Set(static_cast<std::uint32_t>(i));
    copied = ReplaceTokenRows(piece, piece.size(), table_->leadingTags, leadBytes_, piece_,
                              nullptr) == detail::TokenPass::kChanged;
    if (copied) piece = piece_;
  }
  searchAfterTags_.MarkOccurrences(piece, 0, piece.size(), marks_);
  const std::size_t first = marks_.Next(leadingTagCount_);
  if (first >= rows_.size()) return piece;
  if (!copied && stripped != nullptr && tokenGroupEnd_[first] == rows_.size()) {
    // A single pass, which can read the piece where it lies.
    GatherMarked(first, rows_.size());
    if ((tokenRows_.size() > 1 || table_->lastRunIsTokens) && !AnyGrows(tokenRows_)) {
      ++rowPasses_;
      const TokenPass pass = StripMarked(piece, piece.size());
      if (pass == TokenPass::kUnchanged) return piece;
      if (pass == TokenPass::kChanged) {
        *stripped = true;
        return {};
      }
    }
  }
  if (!copied) piece_.assign(piece);
  // The passes of ApplyRows straight to out_ do not look for the text's first '>'.
  if (ApplyRows(piece_, piece_.size(), leadingTagCount_, stripped != nullptr && ending_.closes)) {
    *stripped = true;
    return {};
  }
  return piece_;
}

namespace {

// Collects the converted text of one piece after another, in the text's own buffer while it
// trails the reading position, else in a buffer of its own.
class Output {
 public:
  explicit Output(std::string& text) : text_(text) {}

  // text[from, to) with its tags removed.
  void FromText(std::size_t from, std::size_t to) {
    if (!spilled_) {
      char* const base = text_.data();
      written_ = static_cast<std::size_t>(
          StripTags(base + from, to - from, base + written_, inTag_, Target::kInPlace) - base);
    } else {
      Append(text_.data() + from, to - from);
    }
  }

  // A converted piece whose source ended at readEnd in the text.
  void FromPiece(std::string& piece, std::size_t readEnd) {
    if (!spilled_ && written_ + piece.size() <= readEnd) {
      char* const base = text_.data();
      written_ = static_cast<std::size_t>(
          StripTags(piece.data(), piece.size(), base + written_, inTag_, Target::kApart) - base);
      return;
    }
    char* const end = StripTags(piece.data(), piece.size(), piece.data(), inTag_, Target::kInPlace);
    const auto size = static_cast<std::size_t>(end - piece.data());
    if (!spilled_ && written_ + size <= readEnd) {
      std::memcpy(text_.data() + written_, piece.data(), size);
      written_ += size;
      return;
    }
    if (!spilled_) {
      // The replacements made the text grow past what is still to be read: go on apart.
      const std::size_t rest = text_.size() - readEnd;
      spill_.reserve(written_ + size + rest + rest / 8);
      spill_.assign(text_.data(), written_);
      spilled_ = true;
    }
    spill_.append(piece.data(), size);
  }

  std::string Finish() {
    if (spilled_) return std::move(spill_);
    text_.resize(written_);
    return std::move(text_);
  }

 private:
  void Append(const char* from, std::size_t size) {
    const std::size_t old = spill_.size();
    spill_.resize(old + size);
    char* const end = StripTags(from, size, spill_.data() + old, inTag_, Target::kApart);
    spill_.resize(static_cast<std::size_t>(end - spill_.data()));
  }

  std::string& text_;
  std::string spill_;
  std::size_t written_ = 0;
  bool spilled_ = false;
  bool inTag_ = false;
};

}  // namespace

std::string TableConverter::Impl::Convert(std::string text) {
  rowPasses_ = 0;
  if (rows_.empty()) {
    RemoveTagsInPlace(text);
    return text;
  }
  if (wholePasses_) {
    for (const Row& row : rows_) ReplaceAllInPlace(text, row.pattern, row.replacement, leadBytes_);
    rowPasses_ += rows_.size();
    RemoveTagsInPlace(text);
    return text;
  }

  std::size_t searchEnd = FirstNul(text);
  std::size_t end = NextCut(text.data(), 0, searchEnd);
  if (end == searchEnd) {
    // One piece: convert the text where it is.
    marks_.Reset(rows_.size());
    if (leadingTagCount_ != 0) {
      ++rowPasses_;
      for (std::size_t i = 0; i < leadingTagCount_; ++i) marks_.Set(static_cast<std::uint32_t>(i));
      searchEnd =
          ReplaceTokenRows(text, searchEnd, table_->leadingTags, leadBytes_, spare_, nullptr)
              .searchEnd;
    }
    searchAfterTags_.MarkOccurrences(std::string_view(text.data(), searchEnd), 0, searchEnd,
                                     marks_);
    if (marks_.Next(leadingTagCount_) < rows_.size()) {
      ApplyRows(text, searchEnd, leadingTagCount_);
    }
    RemoveTagsInPlace(text);
    return text;
  }

  Output output(text);
  for (std::size_t start = 0; start < searchEnd;
       start = end, end = NextCut(text.data(), start, searchEnd)) {
    const std::string_view piece(text.data() + start, end - start);
    if (ConvertPiece(piece).data() == piece.data()) {
      output.FromText(start, end);  // no row changes this piece: no copy
      continue;
    }
    output.FromPiece(piece_, end);
  }
  output.FromText(searchEnd, text.size());  // after the NUL only the tags go
  return output.Finish();
}

// ---- A text in chunks ----
//
// A cut after a cut byte holds in the whole text whatever lies beyond it, so each chunk is
// converted up to its last cut and the rest waits for the next one. From the first NUL on no row
// matches, so the text before it is complete once the NUL is seen, and after it only the tags go.

void TableConverter::Impl::StripToOut(std::string_view text) {
  if (!ending_.closes && !text.empty()) {
    // Up to the first '>' the output depends on whether the text began inside a tag; from
    // there on it does not.
    const void* close = std::memchr(text.data(), '>', text.size());
    if (close != nullptr) {
      const auto head = static_cast<std::size_t>(static_cast<const char*>(close) - text.data()) + 1;
      char* const out = out_.Room(head);
      out_.EndAt(StripTags(text.data(), head, out, inTag_, Target::kApart));
      ending_.closes = true;
      ending_.head = outBefore_ + out_.View().size();
      text.remove_prefix(head);
    }
  }
  char* const out = out_.Room(text.size());
  out_.EndAt(StripTags(text.data(), text.size(), out, inTag_, Target::kApart));
}

// A stretch that begins and ends at cuts (or at the text's searchable end), converted piece by
// piece and appended to out_ with its tags removed.
void TableConverter::Impl::ConvertSpan(std::string_view span) {
  for (std::size_t start = 0, end = 0; start < span.size(); start = end) {
    end = NextCut(span.data(), start, span.size());
    bool stripped = false;
    const std::string_view converted = ConvertPiece(span.substr(start, end - start), &stripped);
    if (!stripped) StripToOut(converted);
  }
}

// The waiting tail and rest, which ends at a cut or at the searchable end, converted as one.
void TableConverter::Impl::ConvertWithTail(std::string_view rest) {
  if (tail_.empty()) {
    ConvertSpan(rest);
    return;
  }
  tail_.append(rest);
  ConvertSpan(tail_);
  tail_.clear();
}

void TableConverter::Impl::Start(TextState state) {
  rowPasses_ = 0;
  out_.Clear();
  ReadyForText();
  inTag_ = state.inTag;
  if (state.afterNul) {
    afterNul_ = true;
    staged_ = false;
  }
}

void TableConverter::Impl::ReadyForText() {
  tail_.clear();
  afterNul_ = false;
  inTag_ = false;
  staged_ = false;
  outBefore_ = 0;
  ending_ = {};
  if (wholePasses_) EnterStages();
}

std::string_view TableConverter::Impl::Feed(std::string_view chunk) {
  outBefore_ += out_.View().size();
  out_.Clear();
  if (staged_) chunk = FeedStages(chunk);
  if (!staged_) FeedPieces(chunk);
  return out_.View();
}

void TableConverter::Impl::FeedPieces(std::string_view chunk) {
  if (afterNul_ || rows_.empty()) {
    StripToOut(chunk);
    return;
  }
  const std::size_t nul = FirstNul(chunk);
  if (nul < chunk.size()) {
    ConvertWithTail(chunk.substr(0, nul));
    afterNul_ = true;
    StripToOut(chunk.substr(nul));
    return;
  }
  std::size_t last = chunk.size();
  while (last > 0 && !cut_[static_cast<unsigned char>(chunk[last - 1])]) --last;
  if (last == 0) {
    if (tail_.size() + chunk.size() <= maxWaiting_) {
      tail_.append(chunk);  // no cut in this chunk: all of it waits
      return;
    }
    // Too long without a cut: from the tail's start, which follows a cut or begins the text,
    // the rows go one by one.
    EnterStages();
    PushThroughStages(tail_, false);
    tail_.clear();
    PushThroughStages(chunk, false);
    return;
  }
  std::size_t first = 0;
  if (!tail_.empty()) {
    while (!cut_[static_cast<unsigned char>(chunk[first])]) ++first;
    ConvertWithTail(chunk.substr(0, ++first));
  }
  ConvertSpan(chunk.substr(first, last - first));
  tail_.assign(chunk.substr(last));
}

void TableConverter::Impl::EnterStages() {
  if (stages_.empty()) {
    // Made at the first need only: most texts never go row by row.
    stages_.reserve(rows_.size());
    for (const Row& row : rows_) stages_.emplace_back(row, leadBytes_);
  }
  for (RowStage& stage : stages_) stage.Reset();
  staged_ = true;
}

// Passes the chunk through the stages up to its first cut, if it has one, after which every
// stage starts afresh just as a piece does: there the fused pieces take over again, with the
// rest of the chunk, which is returned. A table whose replacements hold a NUL stays here.
std::string_view TableConverter::Impl::FeedStages(std::string_view chunk) {
  std::size_t first = 0;
  if (!wholePasses_) {
    while (first < chunk.size() && !cut_[static_cast<unsigned char>(chunk[first])]) ++first;
  }
  if (wholePasses_ || first == chunk.size()) {
    PushThroughStages(chunk, false);
    return {};
  }
  PushThroughStages(chunk.substr(0, first + 1), true);
  staged_ = false;
  afterNul_ = stages_.front().AfterNul();  // the cut was the text's first NUL
  return chunk.substr(first + 1);
}

// The text through every stage in pieces of about pieceSize_ bytes, which stay in the cache from
// the first stage to the last; with ended, all that the stages hold goes out too.
//
// A stage looks for its pattern only where it may occur. The rows found in the piece are marked
// at the start; what a stage sees besides is the bytes it held back (an occurrence beginning
// there is marked when they come in front) and the stretches that the stages before it filled
// (marked as in ApplyRows). Everything else it sees stood in the piece.
void TableConverter::Impl::PushThroughStages(std::string_view text, bool ended) {
  StageText& piece = stageTexts_[0];
  const std::size_t reach = search_.MaxLength() - 1;
  std::size_t at = 0;
  do {
    const std::size_t size = std::min(pieceSize_, text.size() - at);
    const bool last = ended && at + size == text.size();
    piece.Clear();
    piece.Append(text.substr(at, size));
    at += size;
    marks_.Reset(rows_.size());
    search_.MarkOccurrences(piece.View(), 0, piece.Size(), marks_);
    for (std::size_t i = 0; i < stages_.size(); ++i) {
      RowStage& stage = stages_[i];
      const std::size_t held = stage.Held().size();
      piece.Prepend(stage.Held(), leadBytes_);
      if (held != 0 && !marks_.All()) search_.MarkOccurrences(piece.View(), 0, held, marks_);
      const bool mayOccur = marks_.Test(static_cast<std::uint32_t>(i));
      rowPasses_ += mayOccur;
      const bool lastRow = i + 1 == stages_.size();
      inserted_.clear();
      stage.Run(piece, last, stageTexts_[1], mayOccur, lastRow ? nullptr : &inserted_);
      const std::string_view changed = piece.View();
      std::size_t looked = 0;
      for (const auto& [begin, end] : inserted_) {
        const std::size_t from = std::max(looked, begin > reach ? begin - reach : 0);
        looked = end;
        search_.MarkOccurrences(changed, from, looked, marks_);
      }
    }
    StripToOut(piece.View());
  } while (at < text.size());
}

std::string_view TableConverter::Impl::Finish() {
  outBefore_ += out_.View().size();
  out_.Clear();
  bool afterNul = afterNul_;
  if (staged_) {
    PushThroughStages({}, true);
    staged_ = false;
    afterNul = afterNul || stages_.front().AfterNul();
  } else if (!afterNul_) {
    ConvertWithTail({});
  }
  const Ending ending{{inTag_, afterNul}, ending_.closes, ending_.head};
  ReadyForText();
  ending_ = ending;
  return out_.View();
}

TableConverter::TableConverter(std::shared_ptr<const PreparedTable> table, std::size_t pieceSize,
                               std::size_t maxWaiting)
    : impl_(std::make_unique<Impl>(std::move(table), pieceSize, maxWaiting)) {}

TableConverter::TableConverter(const ArrayOfArrayOfString& table, const LeadByteSet& leadBytes,
                               std::size_t pieceSize, std::size_t maxWaiting)
    : TableConverter(PrepareTable(table, leadBytes), pieceSize, maxWaiting) {}

TableConverter::~TableConverter() = default;

std::string TableConverter::Convert(std::string text) {
  std::string result = impl_->Convert(std::move(text));
  impl_->ReleaseLargeBuffers();
  return result;
}

void TableConverter::Start() {
  Start(TextState{});
}

void TableConverter::Start(TextState state) {
  impl_->ReleaseLargeBuffers();
  impl_->Start(state);
}

const TableConverter::Ending& TableConverter::LastEnding() const {
  return impl_->LastEnding();
}

std::size_t TableConverter::LastCut(std::string_view text) const {
  return impl_->LastCut(text);
}

std::unique_ptr<TableConverter> TableConverter::Twin() const {
  return impl_->Twin();
}

std::string_view TableConverter::Feed(std::string_view chunk) {
  return impl_->Feed(chunk);
}

std::string_view TableConverter::Finish() {
  return impl_->Finish();
}

std::size_t TableConverter::RowPasses() const {
  return impl_->RowPasses();
}

std::string ConvertWithTable(std::string text, const ArrayOfArrayOfString& table,
                             const LeadByteSet& leadBytes) {
  TableConverter converter(table, leadBytes);
  return converter.Convert(std::move(text));
}

}  // namespace tavrin
