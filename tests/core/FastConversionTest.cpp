// The fast conversion routines against the plain ones, on random inputs built from the bytes
// that matter and cut into pieces small enough that every boundary is crossed.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "FileIOTools.h"
#include "MultiPatternSearch.h"
#include "TavrinFunctions.h"
#include "TavrinReference.h"
#include "TempDir.h"

namespace tavrin {
namespace {

const LeadByteSet kSjis = LeadByteSet::ShiftJis();
const LeadByteSet kNone;

// The markup bytes, CR LF, NUL, the backslash that ends some Shift-JIS characters, lead bytes at
// both ends of both ranges, a trail-only byte, and plain letters.
constexpr char kAlphabet[] = {'<',    '>',    '&',    ';',    '=',    '\r',   '\n', '\0', '\x5C',
                              '\x81', '\x83', '\x9F', '\xE0', '\xFC', '\x40', 'a',  'b',  ' '};

std::string Random(std::mt19937& rng, std::string_view alphabet, std::size_t minLength,
                   std::size_t maxLength) {
  std::uniform_int_distribution<std::size_t> length(minLength, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(length(rng), ' ');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

// A random part of the full alphabet, so that some bytes are in no pattern and pieces can be cut.
std::string RandomSubset(std::mt19937& rng) {
  std::string subset;
  std::bernoulli_distribution take(0.4);
  for (char c : kAlphabet) {
    if (take(rng)) subset.push_back(c);
  }
  if (subset.empty()) subset.push_back('&');
  return subset;
}

// Mostly lead bytes: long runs whose parity decides which occurrences count.
constexpr std::string_view kLeadHeavy =
    "\x83\x83\x83\x83\x83\x81\x5C\x40"
    "a";

// Rows whose patterns overlap and whose replacements are made of pieces of other patterns, so
// earlier rows create occurrences for later ones; now and then rows the conversion skips.
ArrayOfArrayOfString RandomTable(std::mt19937& rng, const std::string& bytes) {
  std::uniform_int_distribution<int> rowCount(1, 8);
  std::uniform_int_distribution<int> kind(0, 19);
  ArrayOfArrayOfString table;
  std::vector<std::string> patterns;
  const int rows = rowCount(rng);
  for (int r = 0; r < rows; ++r) patterns.push_back(Random(rng, bytes, 1, 4));
  for (int r = 0; r < rows; ++r) {
    std::string replacement;
    switch (kind(rng)) {
      case 0:
        table.push_back({patterns[r]});  // one field: no replacement
        continue;
      case 1:
        replacement = Random(rng, std::string_view(kAlphabet, sizeof kAlphabet), 0, 3);
        break;
      case 2:
        replacement = patterns[r] + patterns[r];  // grows
        break;
      default: {
        const std::string& other = patterns[std::uniform_int_distribution<int>(0, rows - 1)(rng)];
        const std::size_t cut = std::uniform_int_distribution<std::size_t>(0, other.size())(rng);
        replacement = Random(rng, bytes, 0, 2) + other.substr(cut) + other.substr(0, cut);
        replacement.resize(std::min<std::size_t>(replacement.size(), 6));
      }
    }
    table.push_back({patterns[r], replacement});
  }
  return table;
}

// The text fed to the converter in chunks of chunkSize bytes (the last may be shorter).
std::string Streamed(TableConverter& converter, std::string_view text, std::size_t chunkSize) {
  std::string out;
  converter.Start();
  for (std::size_t at = 0; at < text.size(); at += chunkSize) {
    out.append(converter.Feed(text.substr(at, chunkSize)));
  }
  out.append(converter.Finish());
  return out;
}

TEST(FastConversionTest, RandomTablesAgreeWithRowByRowPasses) {
  std::mt19937 rng(61001);
  const std::size_t pieceSizes[] = {1, 2, 3, 5, 16, 33, 1 << 16};
  for (int i = 0; i < 6000; ++i) {
    const LeadByteSet& lead = (i % 2) ? kSjis : kNone;
    const bool leadHeavy = i % 10 == 9;
    const ArrayOfArrayOfString table =
        RandomTable(rng, leadHeavy ? std::string(kLeadHeavy) : RandomSubset(rng));
    const std::string text = Random(rng,
                                    leadHeavy ? kLeadHeavy
                                    : (i % 3) ? std::string_view(kAlphabet, sizeof kAlphabet)
                                              : RandomSubset(rng),
                                    0, 300);
    const std::size_t pieceSize = pieceSizes[i % std::size(pieceSizes)];
    TableConverter converter(table, lead, pieceSize);
    const std::string expected = reference::Convert(text, table, lead);
    ASSERT_EQ(converter.Convert(text), expected) << "case " << i << " piece " << pieceSize;
    // The same converter again: its buffers carry nothing over.
    ASSERT_EQ(converter.Convert(text), expected) << "case " << i << " again";
    const std::size_t chunkSize = 1 + static_cast<std::size_t>(i) % 40;
    ASSERT_EQ(Streamed(converter, text, chunkSize), expected)
        << "case " << i << " chunk " << chunkSize;
    // Stretches without a cut soon go row by row, and back to pieces at the next cut.
    const std::size_t maxWaiting = static_cast<std::size_t>(i) % 7;
    TableConverter rowByRow(table, lead, pieceSize, maxWaiting);
    ASSERT_EQ(Streamed(rowByRow, text, chunkSize), expected)
        << "case " << i << " chunk " << chunkSize << " waiting " << maxWaiting;
  }
}

// Rows of entities and tags, which go together in one pass, against one pass per row: their
// replacements end with lead bytes or are made of them, occur within later patterns, hold the
// opening or closing byte or are empty, or are entities themselves; patterns repeat; lead bytes
// and long runs of occurrences stand before others, also inside a tag; bytes in no pattern let
// the text go in pieces. Every third table has tags first and then entities only, which may all
// go in one pass.
TEST(FastConversionTest, RandomEntityAndTagRowsAgreeWithRowByRowPasses) {
  std::mt19937 rng(7321);
  const auto pick = [&rng](const auto& from) {
    return std::string(
        from[std::uniform_int_distribution<std::size_t>(0, std::size(from) - 1)(rng)]);
  };
  static const char* const middles[] = {"a", "b", "ab", "\x83", "ba", "\x40", ""};
  static const char* const replacements[] = {
      "\x83", "\x83\x83", "\x81\x40",         "a",   "ab",  "\x40\x83", " ", "b\x83", "<", ";",
      "&",    "",         "\x83\x40\x83\x61", "&c;", "&a;", "\x83&c;"};
  static const char* const pieces[] = {
      "&a;",
      "&b;",
      "&ab;",
      "&ba;",
      "&\x83;",
      "&\x40;",
      "\x83",
      "\x81",
      "a",
      "&",
      ";",
      "<a>",
      "<b>",
      "<>",
      "&a&b;;",
      "&b&a;",
      "<a<b>",
      "<",
      "x",  // in no pattern: a piece may end after it
      "</x>\r\n",
      "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;",
      "<&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&a;>",
      "<a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><b>"};
  // Now and then a table of hundreds of rows, most of them numbered entities, under the
  // double-byte rule: one pass takes them together too.
  const auto numbered = [&rng] { return "#" + std::to_string(rng() % 60); };
  for (int i = 0; i < 3000; ++i) {
    const bool many = i % 8 == 1;
    int tagsFirst = i % 3 == 2 ? 1 + static_cast<int>(rng() % 3) : 0;
    ArrayOfArrayOfString table;
    for (int rows = many ? 100 + static_cast<int>(rng() % 200) : 1 + static_cast<int>(rng() % 8);
         rows > 0; --rows) {
      const bool tag = i % 3 == 2 ? tagsFirst-- > 0 : rng() % (many ? 200 : 5) == 0;
      const std::string middle = many && rng() % 64 != 0 ? numbered() : pick(middles);
      // A replacement holding the closing byte ends a run: rarely in a long table.
      std::string replacement = pick(replacements);
      while (many && replacement == ";" && rng() % 32 != 0) replacement = pick(replacements);
      table.push_back({(tag ? "<" : "&") + middle + (tag ? ">" : ";"), replacement});
    }
    std::string text;
    for (int n = static_cast<int>(rng() % (many ? 400 : 60)); n > 0; --n) {
      text += many && rng() % 2 ? "&" + numbered() + ";" : pick(pieces);
    }
    const LeadByteSet& lead = i % 4 ? kSjis : kNone;
    const std::string expected = reference::Convert(text, table, lead);
    for (std::size_t pieceSize : {std::size_t{3}, TableConverter::kDefaultPieceSize}) {
      TableConverter converter(table, lead, pieceSize);
      ASSERT_EQ(converter.Convert(text), expected) << "case " << i << " piece " << pieceSize;
      ASSERT_EQ(Streamed(converter, text, 1 + i % 17), expected) << "case " << i;
    }
  }
}

// Chunk ends at every place of texts where they matter most, against the whole conversion.
TEST(FastConversionTest, ChunkedTextsAgreeAtEveryChunkEnd) {
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    ArrayOfArrayOfString table;
    const LeadByteSet* lead;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"empty text", {{"&amp;", "&"}}, &kNone, ""},
      {"patterns straddling chunk ends",
       {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}},
       &kNone,
       "x &amp;lt;b&amp;gt; &lt;i&gt;y&lt;/i&gt; &&amp;amp; z"},
      {"a NUL early and matches after it",
       {{"a", "bb"}, {"&x;", ""}},
       &kNone,
       "a &x; a" + nul + "a &x; <a> a"},
      {"a NUL right after a waiting tail", {{"ab", "c"}}, &kNone, "xab" + nul + "ab"},
      {"tags open across chunks", {{"&gt;", ">"}}, &kNone, "<p title=&gt; long>x<br  >y<z"},
      {"Shift-JIS lead bytes at chunk ends",
       {{"\x5C", "/"}, {"\x83", "*"}},
       &kSjis,
       "\x83\x5C \x83\x83\x5C \x5C\x83\x83\x83\x5C a\x5C"},
      {"no place to cut at all", {{"aa", "a"}}, &kNone, std::string(50, 'a')},
      {"a NUL after a stretch without a cut", {{"aa", "a"}}, &kNone, "aaaaaaa" + nul + "aaa<a>a"},
      {"lead bytes without a cut, then cuts",
       {{"\x83\x83", "\x83"}, {"\x5C", "<\x83>"}, {"\x83\x83", "<"}},
       &kSjis,
       "\x83\x83\x83\x5C\x83\x83\x5C\x83\x83 \x83\x83\x83\x83\x5C\x83\x83\x83\x5C>x"},
      {"rows of whole tags, taken together",
       {{"<br>", "\r\n"},
        {"<br />", "\r\n"},
        {"</p>", "\r\n"},
        {"<br>", "x"},
        {"</td>", "\t"},
        {"&lt;", "<"},
        {"<p>", "P"},
        {"<i>", "I"},
        {"<b>", "<"}},
       &kSjis,
       "\x83<br>a\x83\x83<br>\x81</p><br /><b</p>r><</td>p>&lt;br>\x83</td>\x83\x83\x83<p>"
       "<i>\x83<i><b>"},
      {"rows of whole tags and then entities, in one pass",
       {{"<br>", "&r;"},
        {"</p>", "P\x83"},
        {"</td>", "\t"},
        {"&lt;", "<"},
        {"&gt;", ">"},
        {"&rr;", "R"},
        {"&#160;", "\x83"},
        {"&amp;", "&"}},
       &kSjis,
       "a&lt;br&gt;b<br>\x83&r;&amp;r;</p>&#160;\x83</p>&gt;x<i&gt;\x83\x83&lt;</td>y&amp;amp;"
       "<br><p>\x83<br>&#160;</td>&lt;/"
       "p>z\x83&#160;&#160;&#160;&#160;&#160;&#160;&#160;&#160;&#160;"
       "&#160;&#160;&#160;&#160;&#160;&#160;&#160;&#160;&#160;&amp;"},
      {"rows of whole tags and then a row of one byte",
       {{"<br>", "\r\n"}, {"\xFF", "\nbc"}},
       &kNone,
       "ab\xFF\xFF&lt;\xFFr<br>\xFF"},
      {"rows of whole tags first, the shortest and longer than a word",
       {{"<>", "E"}, {"<span class=\"a\">", "S"}, {"<a>", "\t"}, {"&lt;", "<"}, {"<>", "x"}},
       &kSjis,
       "<><a>\x83<>x<span class=\"a\">y<span class=\"b\">\x83\x83<a>&lt;>&lt;a>< <span "
       "class=\"a\"><>"},
      {"a replacement holding a NUL", {{"b", nul}, {"a", "x"}}, &kNone, "a b a <b> a"},
      {"a replacement holding a NUL, late",
       {{"a", "aa"}, {"ab", nul + "b"}, {"b", "<"}},
       &kNone,
       "b a aa a ba >bab"},
  };
  testing::TempDir dir;
  const std::string file = dir / "page.html";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string expected = reference::Convert(c.text, c.table, *c.lead);
    testing::WriteBytes(file, c.text);
    // Long stretches without a cut go row by row: from the first byte on, or after a few.
    for (std::size_t maxWaiting :
         {std::size_t{0}, std::size_t{4}, TableConverter::kDefaultMaxWaiting}) {
      TableConverter converter(c.table, *c.lead, 3, maxWaiting);
      for (std::size_t chunkSize = 1; chunkSize <= c.text.size() + 1; ++chunkSize) {
        ASSERT_EQ(Streamed(converter, c.text, chunkSize), expected)
            << "chunk " << chunkSize << " waiting " << maxWaiting;
        // A file on two threads, which convert stretches of it apart.
        ThreadBudget spare(1);
        ConvertFileBeside(file, converter, nullptr, chunkSize, &spare);
        ASSERT_EQ(testing::ReadBytes(file + ".txt"), expected)
            << "file chunk " << chunkSize << " waiting " << maxWaiting;
      }
      // Two chunks, split at every place.
      for (std::size_t split = 0; split <= c.text.size(); ++split) {
        converter.Start();
        std::string out(converter.Feed(std::string_view(c.text).substr(0, split)));
        out.append(converter.Feed(std::string_view(c.text).substr(split)));
        out.append(converter.Finish());
        ASSERT_EQ(out, expected) << "split " << split << " waiting " << maxWaiting;
      }
    }
  }
}

// Text that no cut divides, or a table that may end the search anywhere, still leaves the
// converter as it comes: what is held back stays within the waiting limit and the patterns.
TEST(FastConversionTest, TextWithoutCutsIsPassedOnAsItComes) {
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    ArrayOfArrayOfString table;
    const LeadByteSet* lead;
    std::string unit;  // repeated; the rows keep the length
  };
  const std::vector<Case> cases = {
      {"lead bytes, each its own pattern", {{"\x83", "\x83"}}, &kSjis, "\x83"},
      {"pattern bytes", {{"ab", "ba"}, {"bb", "aa"}}, &kNone, "abbab"},
      {"a replacement holding a NUL", {{"b", nul}, {"a", "x"}}, &kNone, "a b a "},
  };
  constexpr std::size_t kMaxWaiting = 100;
  constexpr std::size_t kChunk = 37;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text;
    while (text.size() < 20000) text += c.unit;
    TableConverter converter(c.table, *c.lead, 16, kMaxWaiting);
    converter.Start();
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      out.append(converter.Feed(std::string_view(text).substr(at, kChunk)));
      ASSERT_LE(std::min(text.size(), at + kChunk), out.size() + kMaxWaiting + kChunk) << at;
    }
    out.append(converter.Finish());
    ASSERT_EQ(out, reference::Convert(text, c.table, *c.lead));
  }
}

// "&amp;" to "&" (which makes "&x12;" out of "&amp;x12;"), then "&x0;" to "<0>" and so on.
ArrayOfArrayOfString NumberedRows(int count) {
  ArrayOfArrayOfString table = {{"&amp;", "&"}};
  for (int i = 0; i < count; ++i) {
    table.push_back({"&x" + std::to_string(i) + ";", "<" + std::to_string(i) + ">"});
  }
  return table;
}

// Bytes of those patterns only, so that there is no place to cut.
std::string TextWithoutCuts(std::mt19937& rng, std::size_t size) {
  static const char* const pieces[] = {"&amp;x12;", "&x7;", "pax", "m;a", "0p", "&amp;"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::string text;
  while (text.size() < size) text += pieces[pick(rng)];
  return text;
}

// A big table over a long text without cuts goes row by row in chunks, yet a row whose pattern
// occurs nowhere near a piece must cost no pass over it.
TEST(FastConversionTest, RowsAbsentFromTextWithoutCutsCostNoPasses) {
  const ArrayOfArrayOfString table = NumberedRows(1000);
  std::mt19937 rng(17);
  const std::string text = TextWithoutCuts(rng, 6000);
  constexpr std::size_t kPiece = 64;
  constexpr std::size_t kChunk = 1000;
  // Three rows occur; each chunk adds a piece at most.
  const std::size_t mostPasses = 3 * (text.size() / kPiece + text.size() / kChunk + 2);
  for (const LeadByteSet* lead : {&kNone, &kSjis}) {
    TableConverter converter(table, *lead, kPiece, 256);
    ASSERT_EQ(Streamed(converter, text, kChunk), reference::Convert(text, table, *lead));
    EXPECT_LE(converter.RowPasses(), mostPasses);
  }
}

// Converters of one prepared table, one per thread, hold no copy of it (what each adds at first
// is nothing like the table's size), and they convert at once without disturbing each other.
TEST(FastConversionTest, ConvertersShareOnePreparedTable) {
#if defined(__GLIBC__)
  const auto heapInUse = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
#else
  const auto heapInUse = [] { return std::size_t{0}; };
#endif
  const ArrayOfArrayOfString table = NumberedRows(1000);
  const std::size_t beforeTable = heapInUse();
  const std::shared_ptr<const PreparedTable> prepared = PrepareTable(table, kSjis);
  const std::size_t tableSize = heapInUse() - beforeTable;

  constexpr int kThreads = 4;
  std::mt19937 rng(19);
  std::vector<std::string> texts;
  std::vector<std::unique_ptr<TableConverter>> converters;
  for (int k = 0; k < kThreads; ++k) {
    // Stretches without cuts on either side of a few places to cut.
    std::string text = TextWithoutCuts(rng, 1000) + " <a> &x999; ";
    texts.push_back(text + TextWithoutCuts(rng, 1000));
  }
  const std::size_t beforeConverters = heapInUse();
  for (int k = 0; k < kThreads; ++k) {
    converters.push_back(std::make_unique<TableConverter>(prepared, 64, 100));
  }
  // Where the allocator keeps no count (another system, a sanitizer's allocator) only the
  // threads are checked.
  if (tableSize > 0) {
    EXPECT_LT(heapInUse() - beforeConverters, tableSize / 20) << tableSize;
  }

  std::vector<std::string> whole(kThreads);
  std::vector<std::string> chunked(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&, k] {
      whole[k] = converters[k]->Convert(texts[k]);
      chunked[k] = Streamed(*converters[k], texts[k], 500);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int k = 0; k < kThreads; ++k) {
    const std::string expected = reference::Convert(texts[k], table, kSjis);
    EXPECT_EQ(whole[k], expected) << k;
    EXPECT_EQ(chunked[k], expected) << k;
  }
}

TEST(FastConversionTest, ReplacementsHoldingNulEndTheSearchForLaterRows) {
  const ArrayOfArrayOfString table = {{"b", std::string("\0", 1)}, {"a", "x"}};
  const std::string text = "a b a ";
  for (std::size_t pieceSize : {1, 2, 64}) {
    TableConverter converter(table, kNone, pieceSize);
    EXPECT_EQ(converter.Convert(text), reference::Convert(text, table, kNone));
    EXPECT_EQ(converter.Convert(text), std::string("x \0 a ", 6));
  }
}

TEST(FastConversionTest, GrowingRowsMayOvertakeTheUnreadText) {
  // Every piece grows fourfold and no tag shrinks it back, so the output leaves the input buffer.
  const ArrayOfArrayOfString table = {{"a", "aaaa"}, {"aa", "<>b"}};
  std::string text;
  for (int i = 0; i < 2000; ++i) text += (i % 7) ? "a " : "<a> ";
  for (std::size_t pieceSize : {1, 10, 100, 1 << 16}) {
    TableConverter converter(table, kSjis, pieceSize);
    EXPECT_EQ(converter.Convert(text), reference::Convert(text, table, kSjis)) << pieceSize;
  }
}

TEST(FastConversionTest, EntityTableOnLongMarkup) {
  ArrayOfArrayOfString table = {{"&lt;", "<"},   {"&gt;", ">"},     {"&quot;", "\""},
                                {"&nbsp;", " "}, {"&copy;", "(c)"}, {"&eacute;", "\xC3\xA9"},
                                {"&para;", ""},  {"&amp;", "&"}};
  static const char* const pieces[] = {"<p class=\"a\">", "</p>\r\n",         "&amp;lt;",
                                       "&amp;",           "&lt;b&gt;",        "text ",
                                       "&nbsp;",          "\x83\x5C\x83&gt;", "&eacute;t&eacute;",
                                       "&copy;",          "&quot;x&quot;",    "<br>",
                                       "&&amp;amp;"};
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::string text;
  while (text.size() < 200000) {
    text += pieces[pick(rng)];
    if (rng() % 500 == 0) text.append(3000, 'y');  // far from any entity
  }
  // An empty replacement splits the rows in two runs; without it one run takes in the last row.
  for (const char* para : {"", "\xB6"}) {
    table[6][1] = para;
    for (const LeadByteSet* lead : {&kNone, &kSjis}) {
      const std::string expected = reference::Convert(text, table, *lead);
      for (std::size_t pieceSize : {std::size_t{100}, TableConverter::kDefaultPieceSize}) {
        TableConverter converter(table, *lead, pieceSize);
        ASSERT_EQ(converter.Convert(text), expected);
        ASSERT_EQ(Streamed(converter, text, 70001), expected) << pieceSize;
      }
    }
  }
}

// A tag from open to close (either may fall outside the text) in letters, and text, in place
// and into a buffer of its own.
void ExpectTagsRemovedLikeReference(std::size_t length, std::size_t open, std::size_t close) {
  std::string text(length, 'x');
  for (std::size_t k = 0; k < length; ++k) text[k] = static_cast<char>('a' + k % 26);
  if (open < length) text[open] = '<';
  if (close < length) text[close] = '>';
  const std::string expected = reference::RemoveTags(text);
  ASSERT_EQ(RemoveTags(text), expected) << text;
  std::string apart(text.size() + 1, '\0');
  apart.resize(static_cast<std::size_t>(RemoveTags(text, apart.data()) - apart.data()));
  ASSERT_EQ(apart, expected) << text;
}

TEST(FastConversionTest, RemoveTagsAgreesAtBlockEdges) {
  // Short texts go by the plain scan; from 128 bytes on, the front goes in 64-byte blocks.
  for (std::size_t length : {0, 1, 15, 16, 17, 33, 127, 128, 129, 191, 192, 193, 256, 257}) {
    for (std::size_t open = 0; open <= length; ++open) {
      for (std::size_t close = open; close <= length + 1; close += 5) {
        ExpectTagsRemovedLikeReference(length, open, close);
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST(FastConversionTest, RemoveTagsAgreesOnRandomTexts) {
  // Sparse and dense tags, so the output trails the input in place by every distance.
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    std::string bytes = "ab\0\x83 ";
    bytes.append(static_cast<std::size_t>(i % 4), '<');
    bytes.append(static_cast<std::size_t>(i % 3), '>');
    const std::string text = Random(rng, bytes, 0, (i % 10) ? 400 : 3000);
    ASSERT_EQ(RemoveTags(text), reference::RemoveTags(text)) << "case " << i;
    std::string apart(text.size(), '\0');
    apart.resize(static_cast<std::size_t>(RemoveTags(text, apart.data()) - apart.data()));
    ASSERT_EQ(apart, reference::RemoveTags(text)) << "case " << i;
  }
}

TEST(FastConversionTest, ReplaceAllAgreesAcrossLeadByteRuns) {
  std::mt19937 rng(11);
  for (int i = 0; i < 4000; ++i) {
    const LeadByteSet& lead = (i % 2) ? kSjis : kNone;
    const std::string alphabet = (i % 4 < 2) ? "\x83\x83\x83\\a" : RandomSubset(rng);
    const std::string text = Random(rng, alphabet, 0, 120);
    const std::string pattern = Random(rng, alphabet, 1, 3);
    const std::string replacement = Random(rng, alphabet, 0, 5);
    ASSERT_EQ(ReplaceAll(text, pattern, replacement, lead),
              reference::ReplaceAll(text, pattern, replacement, lead))
        << "case " << i;
  }
}

TEST(FastConversionTest, ReplaceAllAgreesOnRunsOfOneByteAcrossBlockEdges) {
  // A one-byte pattern is replaced a run at a time; runs of every length at every offset, after
  // an odd or even number of lead bytes, shrinking, keeping and growing the text.
  for (std::size_t offset = 0; offset < 20; ++offset) {
    for (std::size_t length = 0; length <= 70; ++length) {
      std::string text(offset, 'a');
      if (offset % 3 == 1) text.back() = '\x83';
      text += std::string(length, '\x83') + "a\x83";
      for (const LeadByteSet* lead : {&kNone, &kSjis}) {
        for (const char* replacement : {"", "\x81", "xy"}) {
          ASSERT_EQ(ReplaceAll(text, "\x83", replacement, *lead),
                    reference::ReplaceAll(text, "\x83", replacement, *lead))
              << offset << " " << length;
        }
      }
    }
  }
}

TEST(FastConversionTest, ReplaceAllAgreesWhenTheFirstByteIsCommon) {
  // Many near misses make the search give up looking for the first byte alone.
  std::mt19937 rng(13);
  for (int i = 0; i < 40; ++i) {
    const LeadByteSet& lead = (i % 2) ? kSjis : kNone;
    const std::string text = Random(rng, "&&&a;\x83", 2000, 20000);
    std::string pattern = Random(rng, "&a;\x83", 3, 4);
    pattern[0] = '&';
    ASSERT_EQ(ReplaceAll(text, pattern, "<>", lead),
              reference::ReplaceAll(text, pattern, "<>", lead))
        << "case " << i;
  }
}

TEST(MultiPatternSearchTest, MarksExactlyThePatternsStartingInTheRange) {
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) {
    // Few distinct first bytes take the wide scans, many the byte-by-byte one.
    const std::string bytes = (i % 3 == 0) ? "&;a" : (i % 3 == 1) ? "&<>=;ab" : RandomSubset(rng);
    std::vector<std::string> patterns;
    const int count = std::uniform_int_distribution<int>(1, 9)(rng);
    for (int k = 0; k < count; ++k) {
      std::string pattern = Random(rng, bytes, 1, 4);
      if (i % 3 == 0) pattern[0] = '&';
      patterns.push_back(pattern);
    }
    std::vector<MultiPatternSearch::Entry> entries;
    for (int k = 0; k < count; ++k) entries.emplace_back(patterns[k], k / 2);  // shared ids
    const MultiPatternSearch search(entries);
    const std::string text = Random(rng, bytes, 0, 80);
    const std::size_t from = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
    const std::size_t to = std::uniform_int_distribution<std::size_t>(from, text.size() + 2)(rng);

    PatternMarks marks;
    marks.Reset(static_cast<std::size_t>((count + 1) / 2));
    search.MarkOccurrences(text, from, to, marks);
    for (int k = 0; k < count; k += 2) {
      bool expected = false;
      for (int j = k; j < std::min(k + 2, count); ++j) {
        for (std::size_t at = from; at < std::min(to, text.size()); ++at) {
          expected |= text.compare(at, patterns[j].size(), patterns[j]) == 0;
        }
      }
      ASSERT_EQ(marks.Test(static_cast<std::uint32_t>(k / 2)), expected) << "case " << i;
    }
  }
}

}  // namespace
}  // namespace tavrin
