#pragma once
#include <QAbstractTableModel>
#include <QTableView>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "recordings/recording_catalogue.h"

namespace lyr {

class TaskQueue;
class RecorderLink;

// The play list's rows on the GUI thread: a copy of the catalogue's rows.
// The catalogue itself lives on the link worker, which alone reads the
// recorder for it; what it read comes back here by queued call. Rows not
// read yet show blank.
class CRecordingListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kPlaying = 0, kIndex, kDuration, kTime, kDate, kColumnCount };
  // Images of the "Playing" column.
  enum Mark { kNoMark = 0, kPlayingMark = 2, kPausedMark = 3 };

  CRecordingListModel(RecorderLink& link, TaskQueue& worker, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Empties the list and reads the recorder's list again on the worker;
  // the rows in [top, top + page) (and five more) are filled there too.
  void RefreshRecordings(int top, int rows_per_page);
  // Reads the recorder's list and the rows in view again while the rows
  // stay shown (after a copy changed their copied marks). When the same
  // recordings come back, checks, marks and the view's selection stay;
  // otherwise checks and the mark follow their recordings.
  void RereadRows(int top, int rows_per_page);
  // Empties the list (no usable recorder); results still on their way are dropped.
  void DeleteAllRows();
  // Fills the rows in view that are still empty, on the worker. While one
  // pass runs, a further call only remembers the newest view for the next.
  void FillVisibleRows(int top, int rows_per_page);
  // Rows of recordings that are gone.
  void RemoveEntries(const std::vector<uint32_t>& entries);

  uint32_t Entry(int row) const { return rows_[static_cast<size_t>(row)].entry; }
  int FindEntry(uint32_t entry) const;
  const RecordingRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  bool Checked(int row) const { return checked_[static_cast<size_t>(row)]; }
  void SetCheck(int row, bool checked);
  // Puts `mark` on `row` after clearing every other mark; -1 clears all.
  void SetMark(int row, Mark mark);
  Mark MarkOf(int row) const { return row == mark_row_ ? mark_ : kNoMark; }
  // True while a refresh or a fill pass is on the worker.
  bool Busy() const { return refreshing_ || filling_; }

 signals:
  // A refresh ended (rows replaced); ok false when the list could not be read.
  void refreshed(bool ok);
  void rowsFilled();

 private:
  void OnRefreshed(uint64_t generation, bool ok, std::vector<RecordingRow> rows);
  void PostRefresh(int top, int rows_per_page);
  void OnFilled(uint64_t generation, std::vector<RecordingRow> rows);
  void StartFill();

  RecorderLink& link_;
  TaskQueue& worker_;
  // Touched only by jobs on the worker.
  std::shared_ptr<RecordingCatalogue> catalogue_;
  std::vector<RecordingRow> rows_;
  std::vector<bool> checked_;
  uint64_t generation_ = 0;
  bool refreshing_ = false;
  bool filling_ = false;
  bool fill_again_ = false;
  int want_top_ = 0;
  int want_page_ = 0;
  int mark_row_ = -1;
  Mark mark_ = kNoMark;
};

// The recordings list control: report view with grid lines, full-row
// select, check boxes and blue text; it asks its model to fill the rows that
// come into view.
class CRecordingListCtrl : public QTableView {
  Q_OBJECT
 public:
  CRecordingListCtrl(RecorderLink& link, TaskQueue& worker, QWidget* parent = nullptr);

  CRecordingListModel* Model() const { return model_; }
  int TopRow() const;
  int RowsPerPage() const;
  void RefreshRecordings();
  // The rows read again in place; the hot item stays on its recording.
  void RereadRows();
  void FillVisibleRows();
  // The current item of the player (the hot item), −1 for none.
  int HotItem() const { return hot_item_; }
  void SetHotItem(int row);
  // Selected rows, top to bottom.
  std::vector<int> SelectedRows() const;

 signals:
  void itemDoubleClicked(int row);
  void contextMenuAt(int row, QPoint global_pos);
  void spacePressed();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SizeColumns();

  CRecordingListModel* model_;
  int hot_item_ = -1;
  // While a RereadRows runs: the hot item's recording, which it follows.
  bool rereading_ = false;
  std::optional<uint32_t> reread_hot_;
};

}  // namespace lyr
