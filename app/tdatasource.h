#pragma once
// DataSource1: the one model between the grid and a data set. Outside the edit
// mode it shows the query, in it the table. Cells are read through the data
// set's row numbers; nothing of the result is copied.

#include <QAbstractTableModel>

#include <string>

namespace archive {
class DataSet;
class Table;
enum class DataSetEvent;
}  // namespace archive

class TDataSource : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr);
    ~TDataSource() override;

    void setDataSet(archive::DataSet* dataSet);
    archive::DataSet* dataSet() const { return dataSet_; }

    // Typing in a cell starts an edit of the table (only with a table).
    bool AutoEdit = false;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Stores typed text into the table's current record. A value the engine
    // refuses changes nothing and is reported through editRefused: the model
    // shows no box, the window does.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The display labels of the columns changed (titles are the labels).
    void labelsChanged();

    // A rerun closes the query and opens it again: while one of these lives,
    // the data set's events are held back and shown to the grid as one reset
    // when it ends, so the grid lays out its rows once per rerun, not twice.
    // Nothing may read the model in between (no event is processed then).
    class SingleReset {
    public:
        explicit SingleReset(TDataSource& source);
        ~SingleReset();
        SingleReset(const SingleReset&) = delete;
        SingleReset& operator=(const SingleReset&) = delete;

    private:
        TDataSource& source_;
    };

signals:
    // The data set's current record moved (shared cursor: the grid follows).
    void cursorMoved(int record);
    // The engine refused a typed value; `message` is its error (Windows-1252).
    void editRefused(const std::string& message);

private:
    void onDataSetEvent(archive::DataSetEvent event, int row);
    // `newResult`: the rows are another result, not the same ones reloaded.
    void applyReset(bool newResult);
    archive::Table* table() const;

    archive::DataSet* dataSet_ = nullptr;
    int listenerId_ = 0;
    int shownRows_ = 0;
    int shownColumns_ = 0;
    int indicatorRow_ = -1;
    int resetsHeld_ = 0;        // SingleReset guards alive
    bool resetPending_ = false; // an event came while they were
};
