#include "editor/SegmentGrid.h"

#include "editor/CurveView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionHeader>
#include <tuple>

#include "document/Translate.h"
#include "editor/core/EditorCore.h"

namespace ondrevo {

namespace {

constexpr int kShownColumns = 7;

QString T(const char* english) {
  return QString::fromUtf8(_(english));
}

bool IsNumberColumn(int col) {
  return col == kColValue || col == kColDuration || col == kColEndValue;
}

// Shown numbers use the user's decimal separator; the core keeps ".".
QString Localized(const std::string& text) {
  QString s = QString::fromStdString(text);
  return s.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// The duration's header spans its unit column: one "Δt" over the number and its unit,
// the delta just left of the duration column's middle and the "t" after it.
class TGridHeader : public QHeaderView {
 public:
  explicit TGridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical) const override {
    if (logical != kColDuration && logical != kColUnit) {
      QHeaderView::paintSection(painter, rect, logical);
      return;
    }
    // Either half paints the whole cell, so a repaint of one half alone stays right.
    const int left = sectionViewportPosition(kColDuration);
    const int right = sectionViewportPosition(kColUnit) + sectionSize(kColUnit);
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = QRect(left, rect.top(), right - left, rect.height());
    opt.section = kColDuration;
    opt.position = QStyleOptionHeader::Middle;
    // The style leaves its clip region behind; the labels must not inherit it.
    painter->save();
    style()->drawControl(QStyle::CE_Header, &opt, painter, this);
    painter->restore();
    const QString delta(QChar(0x0394)), t(QStringLiteral("t"));
    const QFontMetrics metrics(font());
    const int middle = left + sectionSize(kColDuration) / 2;
    const int deltaX = middle - metrics.horizontalAdvance(delta) + 2;
    const int tX = middle - metrics.horizontalAdvance(delta) + 5 + 2 * metrics.horizontalAdvance(t);
    painter->save();
    painter->setFont(font());
    painter->setPen(palette().color(QPalette::ButtonText));
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter->drawText(QRect(deltaX, rect.top(), right - deltaX, rect.height()), flags, delta);
    painter->drawText(QRect(tX, rect.top(), right - tX, rect.height()), flags, t);
    painter->restore();
  }
};

}  // namespace

// ---- model ------------------------------------------------------------------------------------

TGridModel::TGridModel(TEditorCore& core, QObject* parent)
    : QAbstractTableModel(parent),
      core_(core),
      rows_(core.RowCount()),
      headerQuantity_(core.Active()) {}

int TGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kShownColumns;
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
  const int row = index.row(), col = index.column();
  if (!index.isValid() || row >= core_.RowCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      if (col == kColNumber) return QString::number(row + 1);
      if (row == pendingRow_ && col == pendingCol_) {
        return IsNumberColumn(col)
                   ? QString(pending_).replace(QLatin1Char('.'), QLocale().decimalPoint())
                   : pending_;
      }
      // Formatted here, for the cells on screen only: a long curve keeps no texts.
      const std::string cell = core_.Cell(row, col);
      return IsNumberColumn(col) ? Localized(cell) : QString::fromStdString(cell);
    }
    case Qt::BackgroundRole:
      if (row == currentRow_ && col == currentCol_ && col != kColNumber) {
        return QColor(0, 255, 0);
      }
      if (col == kColNumber) return QApplication::palette().button();
      if (!core_.CellBreach(row, col).empty()) return kBeyondLimitColor;
      return {};
    case Qt::ToolTipRole: {
      const std::string finding = core_.CellBreach(row, col);
      if (!finding.empty()) return QString::fromStdString(finding);
      return {};
    }
    case Qt::ForegroundRole:
      if (row == currentRow_ && col == currentCol_) return QApplication::palette().windowText();
      return {};
    case Qt::TextAlignmentRole:
      if (col == kColNumber) return int(Qt::AlignCenter);
      return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const bool voltage = core_.Active() == Quantity::Voltage;
  switch (section) {
    case kColValue:
      return voltage ? QStringLiteral("V1") : QStringLiteral("A1");
    case kColDuration:
      return QStringLiteral("\u0394t");
    case kColEndValue:
      return voltage ? QStringLiteral("V2") : QStringLiteral("A2");
    case kColSup1Name:
      return QStringLiteral("\u00dc1");
    case kColSup2Name:
      return QStringLiteral("\u00dc2");
    default:
      return QString();
  }
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TGridModel::Refresh(int first, int last) {
  const int n = core_.RowCount();
  if (n == rows_ && last >= first && first >= 0 && last < n) {
    // Every changed cell is redrawn, and nothing else (the whole grid would be laid out anew).
    if (pendingRow_ >= n) ClearPending();
    emit dataChanged(index(first, 0), index(last, kShownColumns - 1));
    return;
  }
  if (n > rows_) {
    beginInsertRows({}, rows_, n - 1);
    rows_ = n;
    endInsertRows();
  } else if (n < rows_) {
    beginRemoveRows({}, n, rows_ - 1);
    rows_ = n;
    endRemoveRows();
  }
  if (pendingRow_ >= n) ClearPending();
  emit dataChanged(index(0, 0), index(n - 1, kShownColumns - 1));
  // The captions follow the quantity alone; announcing them repaints the header.
  if (core_.Active() != headerQuantity_) {
    headerQuantity_ = core_.Active();
    emit headerDataChanged(Qt::Horizontal, 0, kShownColumns - 1);
  }
}

void TGridModel::SetPending(int row, int col, const QString& text) {
  pendingRow_ = row;
  pendingCol_ = col;
  pending_ = text;
  emit dataChanged(index(row, col), index(row, col));
}

void TGridModel::ClearPending() {
  const int row = pendingRow_, col = pendingCol_;
  pendingRow_ = pendingCol_ = -1;
  pending_.clear();
  if (row >= 0 && row < rows_) emit dataChanged(index(row, col), index(row, col));
}

void TGridModel::SetCurrent(int row, int col) {
  const int oldRow = currentRow_, oldCol = currentCol_;
  currentRow_ = row;
  currentCol_ = col;
  if (oldRow < rows_) emit dataChanged(index(oldRow, oldCol), index(oldRow, oldCol));
  emit dataChanged(index(row, col), index(row, col));
}

// ---- grid -------------------------------------------------------------------------------------

TSegmentGrid::TSegmentGrid(TEditorCore& core, QWidget* parent)
    : QTableView(parent), core_(core), model_(new TGridModel(core, this)) {
  setObjectName(QStringLiteral("StringGrid1"));
  setHorizontalHeader(new TGridHeader(this));
  setModel(model_);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(20);
  horizontalHeader()->setHighlightSections(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setTabKeyNavigation(true);
  setWordWrap(false);
  // The current cell is lime green, its text in the window text colour.
  QPalette colours = palette();
  colours.setColor(QPalette::Highlight, QColor(0, 255, 0));
  colours.setColor(QPalette::HighlightedText, colours.color(QPalette::WindowText));
  setPalette(colours);
  // The duration column is as wide as its longest number ("15.00000" was cut off at 64).
  const int durationWidth =
      std::max(64, QFontMetrics(font()).horizontalAdvance(QStringLiteral("8888.88888")) + 12);
  // The superposition names as wide as the longest one in the user's language.
  int nameWidth = 58;
  for (int k = 1; k <= 4; ++k) {
    const QString name = QString::fromStdString(KindName(static_cast<SuperpositionKind>(k)));
    nameWidth = std::max(nameWidth, QFontMetrics(font()).horizontalAdvance(name) + 10);
  }
  const int widths[kShownColumns] = {30, 64, durationWidth, 24, 64, nameWidth, nameWidth};
  for (int c = 0; c < kShownColumns; ++c) setColumnWidth(c, widths[c]);
  // The unit column lies under the duration's header: no divider to drag there.
  horizontalHeader()->setSectionResizeMode(kColUnit, QHeaderView::Fixed);
  core_.AddListener([this](const EditorChange& change) {
    if (change.Grid) model_->Refresh(change.FirstRow, change.LastRow);
    // The core chose another row (new curve, document or rows): the current cell follows, so
    // the tabs and Mark never show a row the core does not edit.
    if (change.Selection && !committing_ && currentIndex().isValid() &&
        currentIndex().row() != core_.SelectedRow()) {
      model_->ClearPending();
      SelectCell(core_.SelectedRow(), currentIndex().column());
    }
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const auto [first, last] = SelectedRows();
    if (first < last) emit rowsSelected(first, last);
  });
}

void TSegmentGrid::SetEditMode(bool on) {
  editMode_ = on;
  if (on) {
    CancelPending();
    SelectCell(0, kColValue);
  }
}

void TSegmentGrid::CommitPending() {
  if (!model_->HasPending() || committing_) return;
  const int row = model_->PendingRow(), col = model_->PendingColumn();
  QString text = model_->PendingText();
  model_->ClearPending();
  committing_ = true;
  core_.SetCell(row, col, text.toStdString());
  committing_ = false;
}

void TSegmentGrid::CancelPending() {
  model_->ClearPending();
}

void TSegmentGrid::SelectCell(int row, int col) {
  row = std::clamp(row, 0, model_->rowCount() - 1);
  col = std::clamp(col, 0, kShownColumns - 1);
  const QModelIndex target = model_->index(row, col);
  if (currentIndex() == target) {
    model_->SetCurrent(row, col);
    core_.SelectRow(row);
    emit cellSelected(row, col);
    return;
  }
  selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
}

std::pair<int, int> TSegmentGrid::SelectedRows() const {
  int first = currentIndex().isValid() ? currentIndex().row() : 0, last = first;
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  if (!selected.isEmpty()) {
    first = last = selected.front().row();
    for (const QModelIndex& i : selected) {
      first = std::min(first, i.row());
      last = std::max(last, i.row());
    }
  }
  return {first, last};
}

void TSegmentGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (!current.isValid()) return;
  // Leaving a cell commits what was typed into it.
  if (model_->HasPending() &&
      (current.row() != model_->PendingRow() || current.column() != model_->PendingColumn())) {
    CommitPending();
  }
  model_->SetCurrent(current.row(), current.column());
  core_.SelectRow(current.row());
  emit cellSelected(current.row(), current.column());
}

void TSegmentGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex before = currentIndex();
  QTableView::mousePressEvent(event);
  // Clicking the current cell selects it again (tabs and Mark follow the row).
  if (currentIndex().isValid() && currentIndex() == before) {
    emit cellSelected(before.row(), before.column());
  }
}

void TSegmentGrid::focusOutEvent(QFocusEvent* event) {
  if (event->reason() != Qt::PopupFocusReason) CommitPending();
  QTableView::focusOutEvent(event);
}

bool TSegmentGrid::TypeKey(QKeyEvent* event) {
  const QModelIndex cur = currentIndex();
  if (!cur.isValid()) return false;
  const int row = cur.row(), col = cur.column();
  if (col < kColValue || col > kColEndValue) return false;
  const QString text = event->text();
  const bool backspace = event->key() == Qt::Key_Backspace;
  if (text.isEmpty() && !backspace) return false;
  const QChar ch = backspace ? QChar('\b') : text.front();
  if (!backspace && !ch.isPrint()) return false;
  const bool pendingHere =
      model_->HasPending() && model_->PendingRow() == row && model_->PendingColumn() == col;
  const std::string cell = core_.Cell(row, col);
  const bool numberKey = ch.isDigit() || ch == QLatin1Char('.') || ch == QLatin1Char(',') ||
                         ch == QLocale().decimalPoint().front();
  if (col == kColUnit && numberKey) {
    // A number typed in the unit cell is the next one of the row: the end value.
    SelectCell(row, kColEndValue);
    return TypeKey(event);
  }
  if (col == kColUnit) {
    // Every key marks the unit as typed; only the unit keys change it.
    const std::string base = pendingHere ? model_->PendingText().toStdString() : cell;
    const char key = ch.toLatin1();
    model_->SetPending(row, col, QString::fromStdString(UnitKey(base, key)));
    return true;
  }
  // A cell is typed over; Backspace edits what it holds.
  std::string base = pendingHere ? model_->PendingText().toStdString() : backspace ? cell : "";
  char key = ch.toLatin1();
  if (ch == QLocale().decimalPoint().front()) key = '.';
  if (ch == QChar(0x00b5)) key = 'u';  // the micro sign: "us"
  if (auto next = ValueKey(base, key)) {
    model_->SetPending(row, col, QString::fromStdString(*next));
  } else {
    QApplication::beep();  // a refused key is never dropped without a sound
  }
  return true;
}

void TSegmentGrid::Enter() {
  const QModelIndex cur = currentIndex();
  CommitPending();
  if (!cur.isValid()) return;
  // A read-only grid only moves; it never appends a row.
  auto [row, col] = std::pair{cur.row(), cur.column()};
  if (editMode_) {
    std::tie(row, col) = core_.EnterTarget(row, col);
  } else if (col >= kColValue && col < kColEndValue) {
    ++col;
  } else if (col == kColEndValue && row + 1 < model_->rowCount()) {
    std::tie(row, col) = std::pair{row + 1, kColValue};
  }
  if (row != cur.row() || col != cur.column()) SelectCell(row, col);
  emit entered(currentIndex().row());
}

void TSegmentGrid::keyPressEvent(QKeyEvent* event) {
  const auto mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
  const int row = currentIndex().isValid() ? currentIndex().row() : 0;
  const int col = currentIndex().isValid() ? currentIndex().column() : kColValue;
  if (mods == Qt::ControlModifier) {
    switch (event->key()) {
      case Qt::Key_C:
        Copy();
        return;
      case Qt::Key_X:
        if (editMode_) Cut();
        return;
      case Qt::Key_V:
        if (editMode_) Paste();
        return;
      default:
        break;
    }
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      CancelPending();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Enter();
      return;
    default:
      break;
  }
  // Tab steps over the unit cell: it belongs to the duration and takes unit keys only.
  if ((event->key() == Qt::Key_Tab && mods == Qt::NoModifier && col == kColDuration) ||
      (event->key() == Qt::Key_Backtab && col == kColEndValue)) {
    SelectCell(row, event->key() == Qt::Key_Tab ? kColEndValue : kColDuration);
    return;
  }
  if (!editMode_) {
    QTableView::keyPressEvent(event);
    return;
  }
  if (event->key() == Qt::Key_Insert) {
    CommitPending();
    if (mods == Qt::ShiftModifier) {
      core_.AppendRow();
      SelectCell(model_->rowCount() - 1, kColValue);
    } else {
      core_.InsertRow(row);
      SelectCell(row, col);
    }
    return;
  }
  if (event->key() == Qt::Key_Delete) {
    CancelPending();
    if (mods == Qt::ShiftModifier) {
      core_.DeleteRow(row);
    } else if (col == kColSup1Name || col == kColSup2Name) {
      core_.ClearSuperposition(row, col == kColSup1Name ? 0 : 1);
    } else {
      return;
    }
    SelectCell(std::min(row, model_->rowCount() - 1), col);
    return;
  }
  if (mods != Qt::ControlModifier && TypeKey(event)) return;
  QTableView::keyPressEvent(event);
}

void TSegmentGrid::Copy() {
  const auto [first, last] = SelectedRows();
  QApplication::clipboard()->setText(QString::fromStdString(core_.Copy(first, last)));
}

void TSegmentGrid::Cut() {
  CancelPending();
  const auto [first, last] = SelectedRows();
  const int kept = std::min(last, model_->rowCount() - 2);
  if (kept < first) return;
  QApplication::clipboard()->setText(QString::fromStdString(core_.Copy(first, kept)));
  core_.Cut(first, last);
  SelectCell(0, kColValue);
}

void TSegmentGrid::Paste() {
  const QString text = QApplication::clipboard()->text();
  if (text.isEmpty() || !currentIndex().isValid()) return;
  CancelPending();
  if (core_.Paste(currentIndex().row(), text.toStdString())) {
    SelectCell(model_->rowCount() - 1, kColValue);
  }
}

void TSegmentGrid::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("GridPopup"));
  auto make = [&menu](const char* name, const char* caption, const char* hint, QKeySequence key) {
    QAction* a = menu.addAction(T(caption));
    a->setObjectName(QString::fromLatin1(name));
    if (hint) a->setStatusTip(T(hint));
    if (!key.isEmpty()) a->setShortcut(key);
    return a;
  };
  QAction* cut =
      make("actGridCut", "&Cut", "Cut selection to clipboard", QKeySequence(Qt::CTRL | Qt::Key_X));
  QAction* copy = make("actGridCopy", "C&opy", "Copy selection to clipboard",
                       QKeySequence(Qt::CTRL | Qt::Key_C));
  QAction* paste = make("actGridPaste", "&Paste", "Paste contents from clipboard",
                        QKeySequence(Qt::CTRL | Qt::Key_V));
  menu.addSeparator();
  make("actGridCancel", "Ca&ncel", nullptr, {});
  cut->setEnabled(editMode_);
  paste->setEnabled(editMode_);
  QAction* chosen = menu.exec(event->globalPos());
  if (chosen == cut) Cut();
  if (chosen == copy) Copy();
  if (chosen == paste) Paste();
}

}  // namespace ondrevo
