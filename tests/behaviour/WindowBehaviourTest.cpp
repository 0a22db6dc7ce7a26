// The window's behaviour driven as a face would drive it, on real files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "BoxSize.h"
#include "CodePage.h"
#include "ErrorRule.h"
#include "FakeDesktop.h"
#include "FileIOTools.h"
#include "ShownText.h"
#include "TempDir.h"
#include "Texts.h"
#include "WindowBehaviour.h"

namespace tavrin {
namespace {

using testing::FakeDesktop;
using testing::FakeView;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;
using Strings = std::vector<std::string>;

const std::string kOpenError = "ファイル %s は開けません.";

std::string OpenError(const std::string& path) {
  std::string text = kOpenError;
  return text.replace(text.find("%s"), 2, ShownPath(path));
}

class WindowBehaviourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // Starts the window the way a face does, with CEntity.txt holding table when given.
  void Open(const char* table = "&amp;=&\r\n") {
    if (table != nullptr) WriteBytes(dir_ / "CEntity.txt", table);
    w_.Handle([this] { w_.FormCreate(); });
  }
  // Files named by the given names, holding the given bytes, dropped in that order.
  Strings List(const std::vector<std::pair<std::string, std::string>>& files) {
    Strings paths;
    for (const auto& [name, bytes] : files) {
      paths.push_back(dir_ / name);
      WriteBytes(paths.back(), bytes);
    }
    w_.Handle([&] { w_.DropFiles(paths); });
    return paths;
  }
  void Do(void (WindowBehaviour::*handler)()) {
    w_.Handle([this, handler] { (w_.*handler)(); });
  }

  TempDir dir_;
  std::filesystem::path previous_;
  FakeDesktop desktop_;
  FakeView view_;
  WindowBehaviour w_{view_, desktop_};
};

TEST_F(WindowBehaviourTest, StartingWithoutATableShowsOneErrorAndRunsWithTagsOnly) {
  Open(nullptr);
  EXPECT_EQ(desktop_.BoxTexts(), Strings{"ファイル CEntity.txt は開けません."});
  EXPECT_EQ(desktop_.messageBoxes[0].caption, "tavrin");
  EXPECT_EQ(desktop_.messageBoxes[0].flags, mb::kOk | mb::kIconError);
  const Strings paths = List({{"a.html", "<b>&amp;</b>"}});
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(ReadBytes(paths[0] + ".txt"), "&amp;");
}

TEST_F(WindowBehaviourTest, DropsListRegularFilesInOrderAndSkipTheRest) {
  Open();
  std::filesystem::create_directory(dir_ / "folder");
  WriteBytes(dir_ / "b.html", "");
  WriteBytes(dir_ / "a.html", "");
  const Strings dropped = {dir_ / "b.html",
                           dir_ / "folder",
                           dir_ / "missing.html",
                           dir_ / "a.html",
                           std::string(dir_ / "b.html") + '\0' + ".evil",
                           dir_ / "a.html"};
  w_.Handle([&] { w_.DropFiles(dropped); });
  ASSERT_EQ(w_.Rows().size(), 4u);
  EXPECT_EQ(view_.appends, 1);  // one drop, one addition to the shown list
  const Strings expected = {dir_ / "b.html", dir_ / "a.html", dir_ / "b.html", dir_ / "a.html"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(w_.Rows()[i].path, expected[i]);
    EXPECT_EQ(view_.rows[i].name, FileNameOfPath(expected[i]));
    EXPECT_EQ(view_.rows[i].task, "未処理");
    EXPECT_EQ(view_.rows[i].image, kImageWaiting);
  }
}

TEST_F(WindowBehaviourTest, RunConvertsEveryRowAndStopsAtTheFirstError) {
  Open("&amp;=&\r\n&lt;=<\r\n");
  const Strings paths =
      List({{"a.html", "a&amp;amp;<i>b</i>"}, {"b.html", ""}, {"c.html", "c"}, {"d.html", "d"}});
  view_.selected = {3};
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(view_.statuses, (Strings{"実行開始", "実行終了"}));
  EXPECT_EQ(view_.Tasks(), (Strings{"完了", "完了", "完了", "完了"}));
  EXPECT_TRUE(view_.selected.empty());
  EXPECT_EQ(ReadBytes(paths[0] + ".txt"), "a&amp;b");
  EXPECT_EQ(ReadBytes(paths[1] + ".txt"), "");

  // The third file goes away: the run stops there, the rows after it untouched.
  std::filesystem::remove(paths[2]);
  std::filesystem::remove(paths[3] + ".txt");
  view_.statuses.clear();
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(view_.statuses, (Strings{"実行開始", "実行終了"}));
  EXPECT_EQ(view_.Tasks(), (Strings{"完了", "完了", "開始", "完了"}));
  EXPECT_EQ(view_.rows[2].image, kImageConverting);
  EXPECT_EQ(view_.selected, (std::set<int>{2}));
  EXPECT_FALSE(std::filesystem::exists(paths[3] + ".txt"));
  EXPECT_EQ(desktop_.BoxTexts(), Strings{OpenError(paths[2])});
}

// Whatever the number of workers, a run shows and leaves what one file at a time does: rows
// taken in list order, the failing one left selected and converting with its one box, every row
// before it written, nothing written for it or any row after it (their older outputs kept).
TEST_F(WindowBehaviourTest, AFailingRowEndsTheRunAsOneFileAtATimeWhateverTheWorkers) {
  constexpr int kRows = 12;
  enum class Fault { kInputMissing, kFolderAtOutput };
  struct Seen {
    Strings calls, tasks, boxes, outputs;
    bool operator==(const Seen&) const = default;
  };
  WriteBytes(dir_ / "CEntity.txt", "&amp;=&\r\n");
  auto runWith = [&](unsigned workers, int failing, Fault fault) {
    FakeDesktop desktop;
    FakeView view;
    WindowBehaviour window(view, desktop, workers);
    window.Handle([&] { window.FormCreate(); });
    Strings paths;
    for (int row = 0; row < kRows; ++row) {
      paths.push_back(dir_ / ("f" + std::to_string(row) + ".html"));
      WriteBytes(paths.back(), "<b>" + std::to_string(row) + "</b>&amp;");
      std::filesystem::remove_all(paths.back() + ".txt");
      WriteBytes(paths.back() + ".txt", "older");
    }
    window.Handle([&] { window.DropFiles(paths); });
    const std::string& failed = paths[static_cast<std::size_t>(failing)];
    if (fault == Fault::kInputMissing) {
      std::filesystem::remove(failed);
    } else {
      std::filesystem::remove(failed + ".txt");
      std::filesystem::create_directory(failed + ".txt");
    }
    view.calls.clear();
    window.Handle([&] { window.tmiFileRunClick(); });
    Seen seen{view.calls, view.Tasks(), desktop.BoxTexts(), {}};
    for (const std::string& path : paths) {
      seen.outputs.push_back(
          std::filesystem::is_regular_file(path + ".txt") ? ReadBytes(path + ".txt") : "(none)");
    }
    return seen;
  };
  for (const Fault fault : {Fault::kInputMissing, Fault::kFolderAtOutput}) {
    for (const int failing : {0, kRows / 2, kRows - 1}) {
      const Seen alone = runWith(1, failing, fault);
      Strings calls = {"実行開始"};
      for (int row = 0; row <= failing; ++row) {
        const std::string at = std::to_string(row);
        calls.insert(calls.end(), {"select " + at, at + " 開始"});
        if (row < failing) calls.insert(calls.end(), {at + " 完了", "deselect " + at});
      }
      calls.insert(calls.end(), {"scroll " + std::to_string(failing), "実行終了"});
      EXPECT_EQ(alone.calls, calls) << failing;
      ASSERT_EQ(alone.boxes.size(), 1u) << failing;
      EXPECT_NE(alone.boxes[0].find(ShownPath(dir_ / ("f" + std::to_string(failing) + ".html"))),
                std::string::npos)
          << alone.boxes[0];
      for (int row = 0; row < kRows; ++row) {
        const auto at = static_cast<std::size_t>(row);
        EXPECT_EQ(alone.tasks[at], row < failing ? "完了" : row == failing ? "開始" : "未処理");
        const std::string written = std::to_string(row) + "&";
        EXPECT_EQ(alone.outputs[at], row < failing                   ? written
                                     : row > failing                 ? "older"
                                     : fault == Fault::kInputMissing ? "older"
                                                                     : "(none)")
            << row;
      }
      for (const unsigned workers : {2u, 8u}) {
        EXPECT_EQ(runWith(workers, failing, fault), alone) << workers << " workers, " << failing;
      }
    }
  }
}

TEST_F(WindowBehaviourTest, EventsDuringARunAreHandledAfterIt) {
  Open();
  const Strings paths = List({{"a.html", "a"}, {"b.html", "b"}});
  WriteBytes(dir_ / "late.html", "late");
  std::vector<std::size_t> rowsWhenClosed;
  view_.duringPaint = [&] {
    view_.duringPaint = nullptr;
    w_.Handle([&] { w_.DropFiles({dir_ / "late.html"}); });
    w_.Handle([&] { rowsWhenClosed.push_back(w_.Rows().size()); });
    EXPECT_EQ(w_.Rows().size(), 2u);  // nothing handled while the run works
  };
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(view_.Tasks(), (Strings{"完了", "完了", "未処理"}));
  EXPECT_EQ(rowsWhenClosed, std::vector<std::size_t>{3});
  EXPECT_FALSE(w_.IsHoldingEvents());

  // A run that ends in an error: what came during it, then what came while its box was open.
  std::filesystem::remove(paths[1]);
  Strings order;
  view_.duringPaint = [&] {
    view_.duringPaint = nullptr;
    w_.Handle([&] { order.push_back("during the run"); });
  };
  desktop_.whileBoxShows = [&] {
    desktop_.whileBoxShows = nullptr;
    w_.Handle([&] { order.push_back("while the box shows"); });
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(w_.IsHoldingEvents());  // so a face holds a close off too
  };
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(order, (Strings{"during the run", "while the box shows"}));
}

TEST_F(WindowBehaviourTest, ALongFileIsShownConvertingBeforeItsConversion) {
  Open();
  const Strings paths = List({{"small.html", "x"},
                              {"big.html", std::string(WindowBehaviour::kLongFileBytes, 'x')},
                              {"after.html", "y"}});
  // Workers convert ahead, but not a long file before its row is shown: what it holds when the
  // first row is painted is what is converted.
  const std::string replaced(WindowBehaviour::kLongFileBytes + 1, 'z');
  bool first = true;
  view_.duringPaint = [&] {
    if (!std::exchange(first, false)) return;
    // Replaced whole, so that it is a long file all the while.
    WriteBytes(dir_ / "replacing", replaced);
    std::filesystem::rename(dir_ / "replacing", paths[1]);
  };
  Do(&WindowBehaviour::tmiFileRunClick);
  ASSERT_GE(view_.paints.size(), 2u);
  EXPECT_EQ(view_.paints[0], (Strings{"開始", "未処理", "未処理"}));
  EXPECT_EQ(view_.paints[1], (Strings{"完了", "開始", "未処理"}));
  EXPECT_EQ(view_.Tasks(), (Strings{"完了", "完了", "完了"}));
  EXPECT_TRUE(ReadBytes(paths[1] + ".txt") == replaced);
}

TEST_F(WindowBehaviourTest, PreviewShowsTheFirstSelectedRowUpToItsFirstNul) {
  Open();
  const Strings paths = List(
      {{"a.html", "a"}, {"b.html", std::string("<i>b\r\nline</i>\0tail", 20)}, {"c.html", "c"}});
  Do(&WindowBehaviour::ttsViewEnter);
  EXPECT_EQ(view_.previewPath, "");
  EXPECT_EQ(view_.previewText, "");

  view_.selected = {2, 1};
  Do(&WindowBehaviour::ttsViewEnter);
  EXPECT_EQ(view_.previewPath, paths[1]);
  EXPECT_EQ(view_.previewText, "b\nline");
  EXPECT_EQ(view_.Tasks(), (Strings{"未処理", "未処理", "未処理"}));
  EXPECT_FALSE(std::filesystem::exists(paths[1] + ".txt"));

  // A file that cannot be read leaves the memos as they were.
  std::filesystem::remove(paths[1]);
  Do(&WindowBehaviour::ttsViewEnter);
  EXPECT_EQ(view_.previewText, "b\nline");
  EXPECT_EQ(desktop_.BoxTexts(), Strings{OpenError(paths[1])});
}

// A Shift-JIS page reads as Japanese in any user's code set, judged only up to the NUL, where
// the NUL cut its last character in two.
TEST_F(WindowBehaviourTest, PreviewReadsAShiftJisPageUpToItsNul) {
  Open();
  List({{"sjis.html", std::string("<p>\x93\xFA\x96\x7B\x8C\xEA\x81\x42</p>\x93\0\xFF\xFE", 19)}});
  view_.selected = {0};
  Do(&WindowBehaviour::ttsViewEnter);
  EXPECT_EQ(view_.previewText, "日本語。\uFFFD");
}

TEST_F(WindowBehaviourTest, DoubleClicksSwitchPagesAndRebuildThePreviewOnce) {
  Open();
  const Strings paths = List({{"a.html", "<b>a</b>"}});
  // The face reports the focus entering the page, as a real one does when it can move it.
  view_.focusEntered = [this](Page page) {
    if (page == Page::kView) w_.Handle([this] { w_.ttsViewEnter(); });
  };
  view_.selected = {0};
  Do(&WindowBehaviour::lvwResultDblClick);
  EXPECT_EQ(view_.previewText, "a");
  std::filesystem::remove(paths[0]);
  Do(&WindowBehaviour::tmeViewDblClick);
  Do(&WindowBehaviour::lvwResultDblClick);
  EXPECT_EQ(desktop_.BoxTexts(), Strings{OpenError(paths[0])});  // one error, one box
  EXPECT_EQ(view_.pages, (std::vector<Page>{Page::kView, Page::kList, Page::kView}));

  // Where the face cannot move the focus, the double click rebuilds the preview itself.
  view_.focusEntered = nullptr;
  view_.selected.clear();
  Do(&WindowBehaviour::lvwResultDblClick);
  EXPECT_EQ(view_.previewText, "");
}

TEST_F(WindowBehaviourTest, TrashAsksThenHandsEveryListedPathOverAndEmptiesTheList) {
  Open();
  desktop_.messageBoxAnswers = {kIdNo, 0, kIdYes, kIdYes};
  // No, and a box gone without an answer (its window closed under it): nothing happens.
  List({{"kept.html", ""}});
  for (int unanswered = 0; unanswered < 2; ++unanswered) {
    Do(&WindowBehaviour::tmiEditListIsRecycledClick);
  }
  EXPECT_TRUE(view_.statuses.empty());
  EXPECT_TRUE(desktop_.trashCalls.empty());
  ASSERT_EQ(w_.Rows().size(), 1u);
  Do(&WindowBehaviour::tmiEditListAllClearClick);
  Do(&WindowBehaviour::tmiEditListIsRecycledClick);  // Yes with an empty list: no hand-over
  EXPECT_EQ(view_.statuses, (Strings{"削除開始", "削除終了"}));
  EXPECT_TRUE(desktop_.trashCalls.empty());

  const Strings paths = List({{"a.html", ""}, {"b.html", ""}});
  w_.Handle([&] { w_.DropFiles({paths[0]}); });
  Do(&WindowBehaviour::tmiEditListIsRecycledClick);
  ASSERT_EQ(desktop_.trashCalls.size(), 1u);
  EXPECT_EQ(desktop_.trashCalls[0], paths[0] + '\0' + paths[1] + '\0' + paths[0] + '\0' + '\0');
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_TRUE(w_.Rows().empty());
  for (const testing::MessageBoxCall& box : desktop_.messageBoxes) {
    EXPECT_EQ(box.text, "ファイル群を削除しますか?");
    EXPECT_EQ(box.caption, "クッション");
    EXPECT_EQ(box.flags, mb::kYesNo);
  }
  EXPECT_TRUE(std::filesystem::exists(paths[0]));  // the desktop moves them, not the window
}

TEST_F(WindowBehaviourTest, ClearingRemovesSelectedRowsOrAll) {
  Open();
  const struct {
    std::set<int> selected;
    std::string kept;
  } cases[] = {
      {{}, "abcdefgh"},
      {{0, 2}, "bdefgh"},
      {{0}, "bcdefgh"},
      {{7}, "abcdefg"},
      {{1, 3, 5, 7}, "aceg"},  // every other row: as many runs as rows removed
      {{0, 2, 4, 6}, "bdfh"},
      {{2, 3, 4, 5}, "abgh"},
      {{0, 1, 2, 3}, "efgh"},
      {{0, 1, 5, 7}, "cdeg"},
      {{0, 1, 2, 3, 4, 5, 6, 7}, ""},
  };
  for (const auto& c : cases) {
    Do(&WindowBehaviour::tmiEditListAllClearClick);
    List({{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}, {"e", ""}, {"f", ""}, {"g", ""}, {"h", ""}});
    view_.selected = c.selected;
    view_.removals = 0;
    Do(&WindowBehaviour::tmiEditListClearClick);
    std::string shown, kept;
    for (const FakeView::Row& row : view_.rows) shown += row.name;
    for (const FileListItem& row : w_.Rows()) kept += row.shownName;
    EXPECT_EQ(shown, c.kept);
    EXPECT_EQ(kept, c.kept);
    EXPECT_TRUE(view_.selected.empty());
    // However many rows go, the face removes them in one step.
    EXPECT_EQ(view_.removals, c.selected.empty() ? 0 : 1) << c.kept;
  }
  Do(&WindowBehaviour::tmiEditListAllClearClick);
  EXPECT_TRUE(view_.rows.empty() && w_.Rows().empty());
}

TEST_F(WindowBehaviourTest, SearchOpensOnlyOnAChosenFolder) {
  Open();
  desktop_.folderAnswers = {"", std::string("/srv\0junk", 9)};
  Do(&WindowBehaviour::tmiFileFindFileClick);
  EXPECT_TRUE(desktop_.searchWindows.empty());
  Do(&WindowBehaviour::tmiFileFindFileClick);
  EXPECT_EQ(desktop_.searchWindows, Strings{"/srv"});
  EXPECT_EQ(desktop_.folderPickers, 2);
}

TEST_F(WindowBehaviourTest, TableCheckReloadsAndShowsEachRowOnALine) {
  Open("&amp;=&\r\n");
  WriteBytes(dir_ / "CEntity.txt", "a=b=c\r\nbr=&tavri:ret;\r\n&shy;=\r\n");
  Do(&WindowBehaviour::tmiEditCEntityClick);
  ASSERT_EQ(desktop_.messageBoxes.size(), 1u);
  EXPECT_EQ(desktop_.messageBoxes[0].text, "a b c\nbr \n\n&shy; \n");
  EXPECT_EQ(desktop_.messageBoxes[0].caption, "CEntity");
  EXPECT_EQ(desktop_.messageBoxes[0].flags, mb::kOk);
  const Strings paths = List({{"x.html", "a<br>"}});
  Do(&WindowBehaviour::tmiFileRunClick);
  EXPECT_EQ(ReadBytes(paths[0] + ".txt"), "b");  // the next run uses what was shown

  // A failed reload keeps the table in use.
  std::filesystem::remove(dir_ / "CEntity.txt");
  Do(&WindowBehaviour::tmiEditCEntityClick);
  EXPECT_EQ(desktop_.messageBoxes.back().text, "ファイル CEntity.txt は開けません.");
  EXPECT_EQ(w_.EntityTable().size(), 4u);
}

TEST_F(WindowBehaviourTest, AboutAndCloseGoToTheFace) {
  Open();
  Do(&WindowBehaviour::tmiHelpVersionClick);
  Do(&WindowBehaviour::tmiFileCloseClick);
  EXPECT_EQ(view_.aboutBoxes, 1);
  EXPECT_EQ(view_.closes, 1);
}

TEST(ErrorRuleTest, APeriodFollowsAMessageEndingAfterIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"disk full", "disk full."},
      {"code 7", "code 7."},
      {"done.", "done."},
      {"stop!", "stop!"},
      {"x-", "x-"},
      {"x ", "x "},
      {"ファイル a は開けません", "ファイル a は開けません."},
      {"x \U0001F600", "x \U0001F600."},
  };
  for (const auto& [message, shown] : cases) EXPECT_EQ(WithClosingPeriod(message), shown);
  EXPECT_EQ(ErrorMessageText(std::bad_alloc()), "メモリが不足しています.");
}

TEST(BoxSizeTest, APaneKeepsItsTextsSizeUntilTheRoomEndsThenScrolls) {
  constexpr int kBar = 16, kLine = 12;
  const struct {
    const char* what;
    Extent text, room;
    BoxPane pane;
  } cases[] = {
      {"fits", {200, 100}, {600, 400}, {{200, 100}, false, false}},
      {"fits exactly", {600, 400}, {600, 400}, {{600, 400}, false, false}},
      {"too tall", {200, 3560}, {600, 400}, {{216, 400}, false, true}},
      {"too tall, no width left for the bar", {595, 3560}, {600, 400}, {{600, 400}, true, true}},
      {"too wide", {5000, 12}, {600, 400}, {{600, 28}, true, false}},
      {"too wide and the bar makes it too tall", {5000, 390}, {600, 400}, {{600, 400}, true, true}},
      {"too large both ways", {5000, 5000}, {600, 400}, {{600, 400}, true, true}},
      {"a screen smaller than the box's frame", {200, 3560}, {-50, -10}, {{48, 36}, true, true}},
  };
  for (const auto& [what, text, room, pane] : cases) {
    EXPECT_EQ(FitTextPane(text, room, kBar, kLine), pane) << what;
  }
  EXPECT_EQ(BoxWrapWidth(1920, 96), 500);
  EXPECT_EQ(BoxWrapWidth(1920, 144), 750);
  EXPECT_EQ(BoxWrapWidth(640, 96), 320);
}

TEST(ShownTextTest, TextShowsInTheFirstReadingWhereItIsValid) {
  struct Case {
    const char* what;
    std::string codeSet, bytes, shown;
  };
  const std::string sjis = "\x93\xFA\x96\x7B\x8C\xEA\x81\x42";  // 日本語。
  const std::string eucJp = "\xC6\xFC\xCB\xDC\xB8\xEC\xA1\xA3";
  const std::string fffd = "\uFFFD";
  const Case cases[] = {
      {"ASCII", "UTF-8", "a\\b~", "a\\b~"},
      {"ASCII", "CP932", "a\\b~", "a\\b~"},
      {"ASCII", "CP1252", "a\\b~", "a\\b~"},
      {"UTF-8", "UTF-8", "日本語。", "日本語。"},
      {"UTF-8 where it is no Shift-JIS", "CP932", "日本語。", "日本語。"},
      {"UTF-8 before a single-byte set", "CP1252", "caf\xC3\xA9 日本", "café 日本"},
      {"Shift-JIS", "UTF-8", sjis, "日本語。"},
      {"Shift-JIS", "CP932", sjis, "日本語。"},
      {"Shift-JIS, where 0x81 is no character", "CP1252", sjis, "日本語。"},
      {"a single-byte set before Shift-JIS", "CP1252", "Gr\xF6\xDF\x65 f\xFCr", "Größe für"},
      {"EUC-JP, valid nowhere", "UTF-8", eucJp, fffd + fffd + fffd + "\xDC\xB8\xEC\xA1\xA3"},
      {"binary", "UTF-8", "\x01\xFF\xFE\x80", "\x01" + fffd + fffd + fffd},
      {"Shift-JIS cut at its end", "UTF-8", sjis + "\x93", "日本語。" + fffd},
      {"Shift-JIS cut at its end", "CP932", sjis + "\x93", "日本語。" + fffd},
      {"UTF-8 cut at its end", "UTF-8", "日本\xE8\xAA", "日本" + fffd + fffd},
      {"UTF-8 cut at its end", "CP1252", "日本\xE8\xAA", "日本" + fffd + fffd},
      {"1252 that ends as UTF-8 would be cut", "CP1252", "caf\xE9", "café"},
      {"a byte without a character in 1252", "CP1252", "a\x81", "a" + fffd},
#ifndef _WIN32
      {"EUC-JP", "EUC-JP", eucJp, "日本語。"},
      {"Shift-JIS", "EUC-JP", sjis, "日本語。"},
      {"UTF-8", "EUC-JP", "日本語。", "日本語。"},
      {"Latin-1 that ends as UTF-8 would be cut", "ISO-8859-1", "caf\xE9", "café"},
      {"Shift-JIS", "ISO-8859-1", sjis, "日本語。"},
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownText(c.bytes, c.codeSet), c.shown) << c.what << " in " << c.codeSet;
  }
  EXPECT_EQ(ShownText(sjis), ShownText(sjis, CurrentCodeSetName()));
}

TEST(ShownPathTest, EveryNameShowsOnOneLineAndNoTwoNamesLookAlike) {
  const std::pair<std::string, std::string> cases[] = {
      {"/web/a.html", "/web/a.html"},
      {"caf\xC3\xA9.html", "caf\xC3\xA9.html"},  // valid UTF-8 as it is
      {"caf\xE9.html", "caf\\xE9.html"},         // an undecodable byte as an escape
      {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},          // a real U+FFFD stays one
      {"new\nline\t\x7F", "new\xE2\x90\x8Aline\xE2\x90\x89\xE2\x90\xA1"},  // pictures
      {"a\\xE9", "a\\x5CxE9"},  // a backslash that looks like one
      {"a\\b\\", "a\\b\\"},
      {"\x83\x5C.html", "\\x83\\.html"},  // Shift-JIS where names are UTF-8
  };
  for (const auto& [bytes, shown] : cases) EXPECT_EQ(ShownPath(bytes), shown) << bytes;
}

}  // namespace
}  // namespace tavrin
