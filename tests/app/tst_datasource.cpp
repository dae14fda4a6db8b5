// The grid model on its own, over a real table and query of a small disc,
// with Qt's model tester watching every signal it sends.

#include "tdatasource.h"

#include "discfixture.h"
#include "engine.h"
#include "messagebox.h"
#include "querytext.h"
#include "rowindicatorheader.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class DataSourceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { MessageBox::setAutoAnswer(true); }
    void init();
    void cleanup();

    void rerunInsideSingleResetIsOneReset();
    void sameShapeTableReloadIsDataChanged();
    void cursorMoveRepaintsOldAndNewRow();
    void unchangedValueStartsNoEdit();
    void refusedValueIsReportedAndChangesNothing();
    void editableOnlyWithAutoEditOnWritableTable_data();
    void editableOnlyWithAutoEditOnWritableTable();

private:
    void show(archive::DataSet& dataSet);
    void openTable(bool readOnly);
    QString shown(int row, int column) const { return model->data(model->index(row, column), Qt::DisplayRole).toString(); }

    // Declared in this order so that the tester goes first, the data sets last.
    std::unique_ptr<DiscFixture> disc;
    archive::Table table;
    archive::Query query;
    std::unique_ptr<TDataSource> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void DataSourceTest::init() {
    disc = std::make_unique<DiscFixture>();
    std::string games = disc->dataPath;
    games += '/';
    games += archive::gamesView().copiedFileName;
    query.sql = {"SELECT * FROM " + archive::quotedLiteral(games), "ORDER BY TITEL"};
    query.open();
    openTable(false);
    model = std::make_unique<TDataSource>();
    tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
    MessageBox::clearShown();
}

void DataSourceTest::cleanup() {
    tester.reset();
    model.reset();
    table.close();
    query.close();
    disc.reset();
}

void DataSourceTest::openTable(bool readOnly) {
    table.close();
    table.databaseName = disc->dataPath;
    table.tableName = std::string(archive::tipsView().copiedFileName);
    table.setReadOnly(readOnly);
    table.open();
}

void DataSourceTest::show(archive::DataSet& dataSet) {
    model->setDataSet(&dataSet);
    QCOMPARE(model->rowCount(), dataSet.recordCount());
    QCOMPARE(model->columnCount(), dataSet.fieldCount());
}

void DataSourceTest::rerunInsideSingleResetIsOneReset() {
    show(query);
    QCOMPARE(shown(0, 0), QStringLiteral("Abenteuer in Grünwald"));
    QSignalSpy resets(model.get(), &QAbstractItemModel::modelReset);
    {
        TDataSource::SingleReset single(*model);
        query.close();
        query.sql.back() = "ORDER BY TITEL DESC";
        query.open();
        // The query holds other rows than the grid was told of.
        QVERIFY(!model->data(model->index(0, 0), Qt::DisplayRole).isValid());
        QCOMPARE(resets.count(), 0);
    }
    QCOMPARE(resets.count(), 1);
    QCOMPARE(shown(0, 0), QStringLiteral("Zeppelin Tycoon"));
}

void DataSourceTest::sameShapeTableReloadIsDataChanged() {
    show(table);
    QSignalSpy resets(model.get(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(model.get(), &QAbstractItemModel::dataChanged);
    table.setFieldText(3, "4");
    table.post();  // the table shows its successor image: a reset of the same shape
    QCOMPARE(resets.count(), 0);
    QVERIFY(!changes.isEmpty());
    const QList<QVariant> whole = changes.last();
    QCOMPARE(whole.at(0).toModelIndex(), model->index(0, 0));
    QCOMPARE(whole.at(1).toModelIndex(), model->index(model->rowCount() - 1, model->columnCount() - 1));
    QCOMPARE(shown(0, 3), QStringLiteral("4"));
}

void DataSourceTest::cursorMoveRepaintsOldAndNewRow() {
    show(query);
    QCOMPARE(query.recNo(), 0);
    QSignalSpy moves(model.get(), &TDataSource::cursorMoved);
    QSignalSpy headers(model.get(), &QAbstractItemModel::headerDataChanged);
    query.moveTo(2);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(moves.first().at(0).toInt(), 2);
    QList<int> repainted;
    for (const QList<QVariant>& change : headers) {
        QCOMPARE(change.at(0).value<Qt::Orientation>(), Qt::Vertical);
        QCOMPARE(change.at(1).toInt(), change.at(2).toInt());
        repainted << change.at(1).toInt();
    }
    QCOMPARE(repainted, (QList<int>{0, 2}));
    QCOMPARE(model->headerData(2, Qt::Vertical, kRowIndicatorRole).toBool(), true);
    QCOMPARE(model->headerData(0, Qt::Vertical, kRowIndicatorRole).toBool(), false);
}

void DataSourceTest::unchangedValueStartsNoEdit() {
    model->AutoEdit = true;
    show(table);
    const QModelIndex cell = model->index(1, 0);
    QVERIFY(model->setData(cell, model->data(cell, Qt::EditRole), Qt::EditRole));
    QCOMPARE(table.recNo(), 1);
    QCOMPARE(table.state(), archive::TableState::Browse);
    QVERIFY(!table.modified());
}

void DataSourceTest::refusedValueIsReportedAndChangesNothing() {
    model->AutoEdit = true;
    show(table);
    QSignalSpy refusals(model.get(), &TDataSource::editRefused);
    QSignalSpy changes(model.get(), &QAbstractItemModel::dataChanged);
    QVERIFY(!model->setData(model->index(0, 3), QStringLiteral("drei"), Qt::EditRole));
    QCOMPARE(refusals.count(), 1);
    QCOMPARE(refusals.first().at(0).value<std::string>(),
             std::string("'drei' ist kein g\xFCltiger Wert f\xFCr das Feld 'COUNTER'."));
    QVERIFY(MessageBox::shown().empty());  // the window shows the box, not the model
    QCOMPARE(changes.count(), 0);
    QCOMPARE(table.state(), archive::TableState::Browse);
    QCOMPARE(shown(0, 3), QStringLiteral("3"));
}

void DataSourceTest::editableOnlyWithAutoEditOnWritableTable_data() {
    QTest::addColumn<bool>("onTable");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("autoEdit");
    QTest::addColumn<bool>("editable");
    QTest::newRow("writable table, auto edit") << true << false << true << true;
    QTest::newRow("writable table, no auto edit") << true << false << false << false;
    QTest::newRow("read-only table, auto edit") << true << true << true << false;
    QTest::newRow("query, auto edit") << false << false << true << false;
}

void DataSourceTest::editableOnlyWithAutoEditOnWritableTable() {
    QFETCH(bool, onTable);
    QFETCH(bool, readOnly);
    QFETCH(bool, autoEdit);
    QFETCH(bool, editable);
    openTable(readOnly);
    model->AutoEdit = autoEdit;
    show(onTable ? static_cast<archive::DataSet&>(table) : query);
    QCOMPARE(model->flags(model->index(0, 0)).testFlag(Qt::ItemIsEditable), editable);
}

QTEST_MAIN(DataSourceTest)
#include "tst_datasource.moc"
