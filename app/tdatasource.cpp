#include "tdatasource.h"

#include "engine.h"
#include "rowindicatorheader.h"
#include "text.h"

namespace {
// The row indicator column: the current record, marked by its state. In
// browsing the header draws a triangle (kRowIndicatorRole).
const QString kEditMark = QStringLiteral("I");
const QString kInsertMark = QStringLiteral("*");
}  // namespace

TDataSource::TDataSource(QObject* parent) : QAbstractTableModel(parent) {}

TDataSource::~TDataSource() {
    if (dataSet_) dataSet_->removeListener(listenerId_);
}

void TDataSource::setDataSet(archive::DataSet* dataSet) {
    beginResetModel();
    if (dataSet_) dataSet_->removeListener(listenerId_);
    dataSet_ = dataSet;
    listenerId_ = 0;
    if (dataSet_) {
        listenerId_ = dataSet_->addListener(
            [this](archive::DataSetEvent event, int row) { onDataSetEvent(event, row); });
    }
    shownRows_ = dataSet_ && dataSet_->active() ? dataSet_->recordCount() : 0;
    shownColumns_ = dataSet_ && dataSet_->active() ? dataSet_->fieldCount() : 0;
    indicatorRow_ = dataSet_ ? dataSet_->recNo() : -1;
    endResetModel();
}

archive::Table* TDataSource::table() const { return dynamic_cast<archive::Table*>(dataSet_); }

void TDataSource::onDataSetEvent(archive::DataSetEvent event, int row) {
    if (resetsHeld_ > 0) {
        // Whatever happens now, the one reset at the end shows the outcome.
        resetPending_ = true;
        return;
    }
    switch (event) {
    case archive::DataSetEvent::Reset:
        applyReset(false);
        break;
    case archive::DataSetEvent::RowChanged:
        if (row >= 0 && row < shownRows_ && shownColumns_ > 0)
            emit dataChanged(index(row, 0), index(row, shownColumns_ - 1));
        break;
    case archive::DataSetEvent::CursorMoved: {
        const int previous = indicatorRow_;
        indicatorRow_ = row;
        if (previous >= 0 && previous < shownRows_) emit headerDataChanged(Qt::Vertical, previous, previous);
        if (row >= 0 && row < shownRows_) emit headerDataChanged(Qt::Vertical, row, row);
        emit cursorMoved(row);
        break;
    }
    case archive::DataSetEvent::StateChanged:
        if (indicatorRow_ >= 0 && indicatorRow_ < shownRows_)
            emit headerDataChanged(Qt::Vertical, indicatorRow_, indicatorRow_);
        break;
    }
}

void TDataSource::applyReset(bool newResult) {
    const int rows = dataSet_->active() ? dataSet_->recordCount() : 0;
    const int columns = dataSet_->active() ? dataSet_->fieldCount() : 0;
    indicatorRow_ = dataSet_->recNo();
    if (!newResult && rows == shownRows_ && columns == shownColumns_ && rows > 0 && columns > 0) {
        // Same shape (a table reloaded after a write): the view keeps its
        // current cell and a click in progress.
        emit dataChanged(index(0, 0), index(rows - 1, columns - 1));
        emit headerDataChanged(Qt::Vertical, 0, rows - 1);
    } else {
        beginResetModel();
        shownRows_ = rows;
        shownColumns_ = columns;
        endResetModel();
    }
    emit cursorMoved(dataSet_->recNo());
}

TDataSource::SingleReset::SingleReset(TDataSource& source) : source_(source) { ++source_.resetsHeld_; }

TDataSource::SingleReset::~SingleReset() {
    if (--source_.resetsHeld_ > 0 || !source_.resetPending_) return;
    source_.resetPending_ = false;
    try {
        if (source_.dataSet_) source_.applyReset(true);
    } catch (...) {
        // Only the grid's own slots run here; a destructor must not throw.
    }
}

int TDataSource::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownRows_; }

int TDataSource::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownColumns_; }

QVariant TDataSource::data(const QModelIndex& index, int role) const {
    if (!dataSet_ || !index.isValid() || index.row() >= shownRows_ || index.column() >= shownColumns_) return {};
    if (resetsHeld_ > 0) return {};  // the data set may hold other rows than shown until the reset
    // A cell shows and edits at most the beginning of a long value: the view
    // lays out, elides and sizes only that.
    if (role == Qt::DisplayRole) return toQtShown(dataSet_->text(index.row(), index.column()));
    if (role == Qt::EditRole) return toQtEditable(dataSet_->text(index.row(), index.column()));
    return {};
}

QVariant TDataSource::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!dataSet_ || (role != Qt::DisplayRole && role != kRowIndicatorRole)) return {};
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= shownColumns_ || role != Qt::DisplayRole) return {};
        return toQt(dataSet_->displayLabel(section));
    }
    QString mark;
    if (const archive::Table* editable = table()) {
        if (editable->state() == archive::TableState::Edit) mark = kEditMark;
        if (editable->state() == archive::TableState::Insert) mark = kInsertMark;
    }
    const bool current = section == indicatorRow_;
    if (role == kRowIndicatorRole) return current && mark.isEmpty();
    return current ? mark : QString();
}

Qt::ItemFlags TDataSource::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    const archive::Table* editable = table();
    if (index.isValid() && editable && AutoEdit && !editable->readOnly()) flags |= Qt::ItemIsEditable;
    return flags;
}

bool TDataSource::setData(const QModelIndex& index, const QVariant& value, int role) {
    archive::Table* editable = table();
    if (role != Qt::EditRole || !editable || !index.isValid()) return false;
    try {
        if (editable->recNo() != index.row()) editable->moveTo(index.row());
        // The field held only the beginning of a long value: its rest stays.
        const std::string text = editedValue(value.toString(), editable->text(index.row(), index.column()));
        if (text == editable->text(index.row(), index.column())) return true;  // no change, no edit
        editable->setFieldText(index.column(), text);
        return true;
    } catch (const std::exception& error) {
        emit editRefused(error.what());
        return false;
    }
}

void TDataSource::labelsChanged() {
    if (shownColumns_ > 0) emit headerDataChanged(Qt::Horizontal, 0, shownColumns_ - 1);
}
