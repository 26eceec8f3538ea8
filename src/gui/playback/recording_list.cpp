#include "gui/playback/recording_list.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>

#include "gui/common/task_queue.h"

namespace lyr {
namespace {

constexpr char kTickTip[] =
    "A tick marks a recording played here. Copy and Delete act on the highlighted rows, not on the ticks.";

// The list's small images: 0 nothing, 1 copied, 2 playing, 3 paused.
QPixmap ListImage(int image) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (image) {
    case 1:  // copied: a green tick
      painter.setPen(QPen(QColor(0, 150, 0), 2.5));
      painter.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 4)}));
      break;
    case CRecordingListModel::kPlayingMark:
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(0, 160, 0));
      painter.drawPolygon(QPolygonF({QPointF(4, 2), QPointF(14, 8), QPointF(4, 14)}));
      break;
    case CRecordingListModel::kPausedMark:
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(200, 120, 0));
      painter.drawRect(4, 3, 3, 10);
      painter.drawRect(9, 3, 3, 10);
      break;
    default:  // not copied: a grey dot
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(170, 170, 170));
      painter.drawEllipse(QPointF(8, 8), 3, 3);
      break;
  }
  return pixmap;
}

const QPixmap& CachedImage(int image) {
  static const QPixmap images[4] = {ListImage(0), ListImage(1), ListImage(2), ListImage(3)};
  return images[std::clamp(image, 0, 3)];
}

}  // namespace

CRecordingListModel::CRecordingListModel(RecorderLink& link, TaskQueue& worker, QObject* parent)
    : QAbstractTableModel(parent),
      link_(link),
      worker_(worker),
      catalogue_(std::make_shared<RecordingCatalogue>(link)) {}

int CRecordingListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CRecordingListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant CRecordingListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const char* const kHeadings[kColumnCount] = {"Playing", "Index", "Duration", "Time", "Date"};
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount)
    return QString(kHeadings[section]);
  if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section == kPlaying)
    return QString(kTickTip);
  return {};
}

Qt::ItemFlags CRecordingListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kPlaying) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant CRecordingListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const RecordingRow& row = rows_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      if (!row.filled) return QString();
      switch (index.column()) {
        case kIndex:
          return QString::fromStdString(row.name);
        case kDuration:
          return QString::fromStdString(row.duration);
        case kTime:
          return QString::fromStdString(row.time);
        case kDate:
          return QString::fromStdString(row.date);
        default:
          return QString();
      }
    case Qt::DecorationRole:
      if (index.column() == kPlaying) return CachedImage(MarkOf(index.row()));
      if (index.column() == kIndex && row.filled) return CachedImage(row.copied ? 1 : 0);
      return {};
    case Qt::CheckStateRole:
      if (index.column() == kPlaying)
        return checked_[static_cast<size_t>(index.row())] ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::ToolTipRole:
      // The ticks look like a selection; say what they and the copied mark are.
      if (index.column() == kPlaying) return QString(kTickTip);
      if (index.column() == kIndex && row.filled)
        return QString(row.copied ? "Copied to the PC before" : "Never copied to the PC");
      return {};
    case Qt::ForegroundRole:
      return QColor(0, 0, 255);
    case Qt::UserRole:
      return static_cast<quint32>(row.entry);
    default:
      return {};
  }
}

bool CRecordingListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != kPlaying) return false;
  SetCheck(index.row(), value.toInt() == Qt::Checked);
  return true;
}

void CRecordingListModel::SetCheck(int row, bool checked) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  checked_[static_cast<size_t>(row)] = checked;
  const QModelIndex cell = index(row, kPlaying);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

void CRecordingListModel::SetMark(int row, Mark mark) {
  const int old_row = mark_row_;
  mark_row_ = row < static_cast<int>(rows_.size()) ? row : -1;
  mark_ = mark_row_ < 0 ? kNoMark : mark;
  for (int r : {old_row, mark_row_}) {
    if (r < 0 || r >= static_cast<int>(rows_.size())) continue;
    const QModelIndex cell = index(r, kPlaying);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
  }
}

int CRecordingListModel::FindEntry(uint32_t entry) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].entry == entry) return static_cast<int>(i);
  }
  return -1;
}

void CRecordingListModel::DeleteAllRows() {
  ++generation_;
  refreshing_ = false;
  filling_ = false;
  fill_again_ = false;
  beginResetModel();
  rows_.clear();
  checked_.clear();
  mark_row_ = -1;
  mark_ = kNoMark;
  endResetModel();
  std::shared_ptr<RecordingCatalogue> catalogue = catalogue_;
  worker_.Post([catalogue] { catalogue->DeleteAllRows(); });
}

void CRecordingListModel::RefreshRecordings(int top, int rows_per_page) {
  DeleteAllRows();
  PostRefresh(top, rows_per_page);
}

void CRecordingListModel::RereadRows(int top, int rows_per_page) {
  // Results of passes still on their way describe the old rows.
  ++generation_;
  filling_ = false;
  fill_again_ = false;
  PostRefresh(top, rows_per_page);
}

void CRecordingListModel::PostRefresh(int top, int rows_per_page) {
  refreshing_ = true;
  const uint64_t generation = generation_;
  std::shared_ptr<RecordingCatalogue> catalogue = catalogue_;
  QPointer<CRecordingListModel> self(this);
  worker_.Post([self, catalogue, generation, top, rows_per_page] {
    catalogue->SetVisibleRows(static_cast<size_t>(std::max(0, top)),
                              static_cast<size_t>(std::max(0, rows_per_page)));
    const bool ok = lyr::RefreshRecordings(*catalogue).ok();
    std::vector<RecordingRow> rows = catalogue->Rows();
    if (self.isNull()) return;
    QMetaObject::invokeMethod(
        self.data(),
        [self, generation, ok, rows = std::move(rows)]() mutable {
          if (!self.isNull()) self->OnRefreshed(generation, ok, std::move(rows));
        },
        Qt::QueuedConnection);
  });
}

void CRecordingListModel::OnRefreshed(uint64_t generation, bool ok, std::vector<RecordingRow> rows) {
  if (generation != generation_) return;
  refreshing_ = false;
  if (ok) {
    const bool same =
        std::equal(rows_.begin(), rows_.end(), rows.begin(), rows.end(),
                   [](const RecordingRow& a, const RecordingRow& b) { return a.entry == b.entry; });
    if (same) {
      rows_ = std::move(rows);
      if (!rows_.empty())
        emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1));
    } else {
      std::vector<uint32_t> checked;
      for (size_t i = 0; i < rows_.size(); ++i) {
        if (checked_[i]) checked.push_back(rows_[i].entry);
      }
      const uint32_t marked = mark_row_ >= 0 ? rows_[static_cast<size_t>(mark_row_)].entry : 0;
      beginResetModel();
      rows_ = std::move(rows);
      checked_.assign(rows_.size(), false);
      for (uint32_t entry : checked) {
        const int i = FindEntry(entry);
        if (i >= 0) checked_[static_cast<size_t>(i)] = true;
      }
      mark_row_ = mark_row_ >= 0 ? FindEntry(marked) : -1;
      if (mark_row_ < 0) mark_ = kNoMark;
      endResetModel();
    }
  }
  emit refreshed(ok);
  if (fill_again_) StartFill();
}

void CRecordingListModel::FillVisibleRows(int top, int rows_per_page) {
  want_top_ = top;
  want_page_ = rows_per_page;
  if (refreshing_ || filling_) {
    fill_again_ = true;
    return;
  }
  StartFill();
}

void CRecordingListModel::StartFill() {
  fill_again_ = false;
  const size_t top = static_cast<size_t>(std::max(0, want_top_));
  const size_t page = static_cast<size_t>(std::max(0, want_page_));
  // Nothing to ask when every row of the pass is filled already.
  const size_t first = top <= 5 ? 0 : top;
  const size_t last = std::min(first + page + 5, rows_.size());
  bool any = false;
  for (size_t i = first; i < last && !any; ++i) any = !rows_[i].filled;
  if (!any) return;
  filling_ = true;
  const uint64_t generation = generation_;
  std::shared_ptr<RecordingCatalogue> catalogue = catalogue_;
  QPointer<CRecordingListModel> self(this);
  worker_.Post([self, catalogue, generation, top, page] {
    std::vector<RecordingRow> filled;
    catalogue->SetRowFilledCallback([&](size_t row) { filled.push_back(catalogue->Row(row)); });
    catalogue->SetVisibleRows(top, page);
    (void)lyr::FillVisibleRows(*catalogue);
    catalogue->SetRowFilledCallback({});
    if (self.isNull()) return;
    QMetaObject::invokeMethod(
        self.data(),
        [self, generation, filled = std::move(filled)]() mutable {
          if (!self.isNull()) self->OnFilled(generation, std::move(filled));
        },
        Qt::QueuedConnection);
  });
}

void CRecordingListModel::OnFilled(uint64_t generation, std::vector<RecordingRow> rows) {
  if (generation != generation_) return;
  filling_ = false;
  for (RecordingRow& row : rows) {
    const int i = FindEntry(row.entry);
    if (i < 0) continue;
    rows_[static_cast<size_t>(i)] = std::move(row);
    emit dataChanged(index(i, 0), index(i, kColumnCount - 1));
  }
  emit rowsFilled();
  if (fill_again_) StartFill();
}

void CRecordingListModel::RemoveEntries(const std::vector<uint32_t>& entries) {
  const uint32_t marked = mark_row_ >= 0 ? rows_[static_cast<size_t>(mark_row_)].entry : 0;
  for (uint32_t entry : entries) {
    const int i = FindEntry(entry);
    if (i < 0) continue;
    beginRemoveRows(QModelIndex(), i, i);
    rows_.erase(rows_.begin() + i);
    checked_.erase(checked_.begin() + i);
    endRemoveRows();
  }
  mark_row_ = mark_row_ >= 0 ? FindEntry(marked) : -1;
  if (mark_row_ < 0) mark_ = kNoMark;
  std::shared_ptr<RecordingCatalogue> catalogue = catalogue_;
  worker_.Post([catalogue, entries] {
    for (uint32_t entry : entries) catalogue->RemoveEntry(entry);
  });
}

// ---- the control --------------------------------------------------------

CRecordingListCtrl::CRecordingListCtrl(RecorderLink& link, TaskQueue& worker, QWidget* parent)
    : QTableView(parent), model_(new CRecordingListModel(link, worker, this)) {
  setObjectName("playList");
  setModel(model_);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setHighlightSections(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette p = palette();
  p.setColor(QPalette::Text, QColor(0, 0, 255));
  setPalette(p);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { FillVisibleRows(); });
  connect(model_, &CRecordingListModel::refreshed, this, [this](bool) {
    if (rereading_ && reread_hot_) {
      SetHotItem(model_->FindEntry(*reread_hot_));
    } else {
      hot_item_ = -1;
    }
    rereading_ = false;
    FillVisibleRows();
  });
  SizeColumns();
}

int CRecordingListCtrl::TopRow() const {
  const int row = rowAt(0);
  return row < 0 ? 0 : row;
}

int CRecordingListCtrl::RowsPerPage() const {
  const int height = std::max(1, verticalHeader()->defaultSectionSize());
  return std::max(1, viewport()->height() / height);
}

void CRecordingListCtrl::RefreshRecordings() {
  rereading_ = false;
  model_->RefreshRecordings(TopRow(), RowsPerPage());
}

void CRecordingListCtrl::RereadRows() {
  rereading_ = true;
  reread_hot_.reset();
  if (hot_item_ >= 0 && hot_item_ < model_->rowCount()) reread_hot_ = model_->Entry(hot_item_);
  model_->RereadRows(TopRow(), RowsPerPage());
}

void CRecordingListCtrl::FillVisibleRows() { model_->FillVisibleRows(TopRow(), RowsPerPage()); }

void CRecordingListCtrl::SetHotItem(int row) {
  hot_item_ = row < model_->rowCount() ? row : -1;
  // The hot item moves the focus, not the selection.
  if (hot_item_ >= 0)
    selectionModel()->setCurrentIndex(model_->index(hot_item_, CRecordingListModel::kIndex),
                                      QItemSelectionModel::NoUpdate);
}

std::vector<int> CRecordingListCtrl::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CRecordingListCtrl::SizeColumns() {
  const int width = viewport()->width();
  const int rest = std::max(0, width - 20);
  // Room for the check box beside the mark, and for the caption.
  const int playing = std::max(20 + 16, horizontalHeader()->sectionSizeHint(CRecordingListModel::kPlaying));
  setColumnWidth(CRecordingListModel::kPlaying, playing);
  setColumnWidth(CRecordingListModel::kIndex, std::max(40, rest / 2 - (playing - 20)));
  for (int c = CRecordingListModel::kDuration; c <= CRecordingListModel::kDate; ++c)
    setColumnWidth(c, rest / 6);
}

void CRecordingListCtrl::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  SizeColumns();
  FillVisibleRows();
}

void CRecordingListCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
    emit spacePressed();
    return;
  }
  QTableView::keyPressEvent(event);
  FillVisibleRows();
}

void CRecordingListCtrl::wheelEvent(QWheelEvent* event) {
  QTableView::wheelEvent(event);
  FillVisibleRows();
}

void CRecordingListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) emit itemDoubleClicked(index.row());
}

void CRecordingListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(event->pos());
  emit contextMenuAt(index.isValid() ? index.row() : -1, event->globalPos());
}

}  // namespace lyr
