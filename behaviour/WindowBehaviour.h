// What the main window does, without any toolkit: the file list's rows, the batch run, the
// preview, the desktop commands, the table check and the error rule. A face draws the window,
// forwards each event to the handler of the same name, and shows what it is told.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CodePage.h"
#include "DesktopServices.h"
#include "FileList.h"
#include "TavrinFunctions.h"
#include "VBLikeFunctions.h"
#include "WindowView.h"

namespace tavrin {

class WindowBehaviour {
 public:
  // workers: how many threads a batch run converts with; 0 for one per usable processor.
  WindowBehaviour(WindowView& view, DesktopServices& services, unsigned workers = 0);
  ~WindowBehaviour();

  // Every event enters through here: the handler runs to its end, and an error ends it and is
  // shown in one box. Events that arrive while a batch run works (the window still paints, so
  // a drop or a close can come in) or while that box is open are handled after them, in the
  // order they came.
  void Handle(std::function<void()> handler);
  // True while events wait: a batch run works, or the box of the error that ended a command is
  // open. A face that must answer at once (a close) holds off and hands the event in.
  bool IsHoldingEvents() const { return running_ || showingError_; }

  // The handlers, each to be called through Handle.
  void FormCreate();
  void DropFiles(const std::vector<std::string>& paths);
  void AddResultList(std::string path);
  void tmiFileRunClick();
  void tmiFileFindFileClick();
  void tmiFileCloseClick();
  void tmiEditListClearClick();
  void tmiEditListAllClearClick();
  void tmiEditListIsRecycledClick();
  void tmiEditCEntityClick();
  void tmiHelpVersionClick();
  void ttsViewEnter();
  void lvwResultDblClick();
  void tmeViewDblClick();

  void CEntityLoad();
  std::string TavrinWithCEntity(std::string text);

  const ArrayOfArrayOfString& EntityTable() const { return CEntityTable; }
  const std::vector<FileListItem>& Rows() const { return rows_; }
  // The text the table check shows: each row's fields joined by a space, one row a line.
  std::string EntityTableText() const;

  // Painting during a run: at its first file, then every so often, and always before a file
  // whose conversion takes long enough for a person to wait for it.
  static constexpr std::chrono::milliseconds kRepaintInterval{30};
  static constexpr int kPaintShare = 10;  // at least this many times a paint's own time apart
  static constexpr std::uint64_t kLongFileBytes = 4 << 20;
  // While the rows catch up with the workers, the run waits for this many files at a time.
  static constexpr std::size_t kRowsPerWake = 64;

 private:
  // CEntityTable ready to convert with, prepared again after a change of table or code page.
  TableConverter& Converter();
  void SetRowState(int row, RowState state);
  int FirstSelectedRow() const;
  // Appends a row for the path unless it names no regular file; ShowRowsFrom then shows the
  // rows appended since first, in one step.
  void AppendRow(std::string path);
  void ShowRowsFrom(std::size_t first);
  void RemoveAllRows();

  WindowView& view_;
  DesktopServices& services_;
  ArrayOfArrayOfString CEntityTable;
  std::vector<FileListItem> rows_;
  // CEntityTable prepared for conversion, and the lead-byte set it was prepared with.
  std::shared_ptr<const PreparedTable> preparedTable_;  // shared by the converters of a run
  std::unique_ptr<TableConverter> converter_;
  LeadByteSet converterLeadBytes_;
  unsigned workers_;
  bool running_ = false;
  bool showingError_ = false;
  std::deque<std::function<void()>> waiting_;
  int viewEnters_ = 0;
};

}  // namespace tavrin
