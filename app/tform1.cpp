#include "tform1.h"

#include "sidebar.h"
#include "cp1252.h"
#include "editmode.h"
#include "editrules.h"
#include "messagebox.h"
#include "querytext.h"
#include "sorting.h"
#include "startupsequence.h"
#include "tableimage.h"
#include "tables.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1layout.h"
#include "tform2.h"
#include "tform3.h"
#include "tkindstatistics.h"
#include "tsuchpage.h"
#include "waitcursor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QWindow>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace {

using namespace tform1layout;

// Posted after each rerun: work out what the next title keystroke needs.
const QEvent::Type kPrepareTitleSearch = static_cast<QEvent::Type>(QEvent::registerEventType());

constexpr char kEditModeCaption[] = "EDIT-Modus aktiv * ASCII-Import(CD/DVD)+Export * CTRL-DEL l\xF6scht Datenzeile";
constexpr char kDeleteQuestion[] = "Datensatz l\xF6schen?";

// While a query runs: the wait cursor for the whole screen and the command
// areas disabled, so no command starts a second run from within the first.
// Both are restored however the run ends.
class QueryRun {
public:
    explicit QueryRun(Sidebar& sidebar) : sidebar_(sidebar) { sidebar_.setQueryCommandsEnabled(false); }
    ~QueryRun() { sidebar_.setQueryCommandsEnabled(true); }
    QueryRun(const QueryRun&) = delete;
    QueryRun& operator=(const QueryRun&) = delete;

private:
    WaitCursor waitCursor_;
    Sidebar& sidebar_;
};

}  // namespace

// The window's side of the start-up: each step as the sequence asks for it.
class TForm1::Startup : public startup::StartupHost {
    TForm1& form_;
    TInstanceMarker* marker_;

public:
    Startup(TForm1& form, TInstanceMarker* marker) : form_(form), marker_(marker) {}
    startup::StartupSequence sequence{*this, form_};

    bool anotherCopyRuns() override {
        if (!marker_) return false;
        if (form_.OneInstance1.act(*marker_)) return true;
        QObject::connect(marker_, &TInstanceMarker::activationRequested, &form_, &TForm1::bringToFront);
        return false;
    }
    void centreWindow() override {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            form_.move(screen->availableGeometry().center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
    }
    std::string startFolder() override { return startup::currentFolder(); }
    std::string engineVersionText(const std::string& defaultText) override {
        form_.IniCtrl1.RegRoot = rpLocalMachine;
        form_.IniCtrl1.RegPath = std::string(kEngineRegPath);
        return form_.IniCtrl1.ReadSetting(std::string(kEngineSection), std::string(kEngineVersionIdent), defaultText);
    }
    void hideWaitWindow() override {
        if (form_.Form4) form_.Form4->hide();
    }
    void showNotice(const std::string& text) override { MessageBox::showMessage(&form_, text); }
    void startProgram(const std::string& file) override { form_.SendKeys1.StartProgram(file); }
    void makeFolder(const std::string& folder) override {
        std::error_code ignored;
        std::filesystem::create_directory(archive::cp1252ToUtf8(folder), ignored);
    }
    std::vector<startup::CopyFailure> copyTables(const std::string& sourcePath, const std::string& dataPath) override {
        return startup::copyTablesToHardDisk(sourcePath, dataPath);
    }
    void leaveStartFolder() override {
        const std::string tempPath = form_.SysInfo1.TempPath();
        if (!tempPath.empty()) {
            [[maybe_unused]] const int ignored = ::chdir(archive::cp1252ToUtf8(tempPath).c_str());
        }
    }
    void prefetch(const std::string& dataPath, const archive::ViewDef& view, archive::LoadPriority priority) override {
        if (priority != archive::LoadPriority::Background) {
            archive::prefetchTable(dataPath, archive::queriedPath(dataPath, view.tableFile), priority);
            return;
        }
        // A table read while the user looks at another is also sorted as its
        // view opens, so that the first switch to it costs no sort.
        auto readAhead = [dataPath, table = &view] {
            archive::prefetchQuery(dataPath, archive::openingQueryText(dataPath, *table).lines,
                                   archive::LoadPriority::Background, archive::kTitleField);
        };
        // What is read in the background waits for the first frame: on a
        // machine of two cores it would compete with the painting of it.
        if (!form_.firstFramePainted_)
            form_.afterFirstFrame_.push_back(std::move(readAhead));
        else
            readAhead();
    }
    std::optional<std::string> greatestIssueCode(const std::string& dataPath, const archive::ViewDef& view) override {
        // Where no image of the table is at hand, only that column is read.
        return archive::newestIssueCode(dataPath, view);
    }
    void openGames() override {
        form_.InitTable(std::string(archive::gamesView().name));
        form_.FormatTable(form_.CurrentView);
    }
    void closeWaitWindow() override {
        delete form_.Form4;
        form_.Form4 = nullptr;
    }
    void showError(const std::string& text) override { MessageBox::showError(&form_, text); }
};

TForm1::TForm1(const std::string& programFile, TInstanceMarker* marker, QWidget* waitWindow, QWidget* parent)
    : QWidget(parent), Form4(waitWindow), programFile_(programFile),
      startup_(std::make_unique<Startup>(*this, marker)) {
    loadLayout();
    bool goesOn = true;
    guarded(this, [&] { goesOn = startup_->sequence.create(programFile_); });
    Terminated = !goesOn;
}

TForm1::~TForm1() {
    DataSource1->setDataSet(nullptr);
    delete Form4;  // a window that was never shown still has its wait window
}

void TForm1::infoDialogMade(TForm2& dialog) {
    if (infoMode_) dialog.setMode(*infoMode_);
}

void TForm1::tellInfoMode(const InfoMode& mode) {
    infoMode_ = mode;
    if (TForm2* dialog = windows_ ? windows_->infoDialog(false) : nullptr) dialog->setMode(mode);
}

TSuchPage& TForm1::selectionModule() const {
    if (!windows_) throw std::logic_error("The selection module is not connected to the main window.");
    return windows_->suchPage();
}

QWidget* TForm1::resultGrid() { return DBGrid1; }

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    FormShow();
}

void TForm1::FormShow() { startup_->sequence.show(); }

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TForm1::FormResize() {
    // The window keeps its minimum outer size itself, also where no window
    // manager honours the minimum; the outer size counts the frame the
    // window was laid out with.
    const int outerWidth = width() + kFrameWidth;
    const int outerHeight = height() + kFrameHeight;
    if (outerWidth < kMinOuterWidth || outerHeight < kMinOuterHeight) {
        resize(std::max(outerWidth, kMinOuterWidth) - kFrameWidth, std::max(outerHeight, kMinOuterHeight) - kFrameHeight);
        return;  // the new size runs this handler again
    }
    // The grid fills the rest of the client area beside the sidebar.
    DBGrid1->setGeometry(kGridLeft, kGridTop, width() - kGridLeft - kGridRightMargin,
                         height() - kGridTop - kGridBottomMargin);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A pending change of the current row is stored before the program ends;
    // when the engine refuses it, the window stays open and nothing is lost.
    if (EditMode && Table1.active()) {
        try {
            Table1.first();
            Table1.close();
        } catch (const std::exception& error) {
            MessageBox::showError(this, error.what());
            event->ignore();
            return;
        }
    }
    event->accept();
    QApplication::quit();
}

void TForm1::bringToFront() {
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        showNormal();
    } else {
        show();
        raise();
        activateWindow();
    }
}

// ---------------------------------------------------------------- views and queries

archive::DataSet& TForm1::shownDataSet() {
    if (DataSource1->dataSet()) return *DataSource1->dataSet();
    return Query1;
}

// A table whose fields are not the view's would show its data under the
// view's titles: it is closed again before the grid paints it.
static void refuseForeignFields(archive::DataSet& dataSet, const std::string& view, const std::string& fallbackName) {
    const archive::ViewDef* definition = archive::findView(view);
    if (!definition || !dataSet.active()) return;
    std::vector<std::string> names;
    for (int i = 0; i < dataSet.fieldCount(); ++i) names.push_back(dataSet.column(i).name);
    const std::string table = dataSet.image() ? dataSet.image()->path() : fallbackName;
    if (const auto mismatch = archive::fieldMismatchText(*definition, table, names)) {
        dataSet.close();
        throw archive::EngineError(*mismatch);
    }
}

void TForm1::InitTable(const std::string& view) {
    const archive::ViewDef* definition = archive::findView(view);
    if (!definition) throw archive::EngineError("Unbekannte Ansicht '" + view + "'.");
    TSuchPage& selection = selectionModule();
    // 1. The statistics belong to the view that is left.
    for (int statisticsView = 0; statisticsView < 3; ++statisticsView)
        if (QWidget* statistics = windows_->statistics(statisticsView, false)) statistics->hide();
    // 2. A selection in force is reset as a whole; otherwise the quick field is emptied.
    if (sidebar_->selectionIndicated()) {
        selection.Image2Click();
    } else {
        Edit1->clear();
    }
    repaint();
    selection.clearCategories();
    CurrentView = view;
    SortField = archive::titleOrder().field;
    TitleFilter.clear();
    Query1.close();
    repaint();
    if (EditMode) {
        Table1.first();
        Table1.close();
    }
    CategoryField = std::string(definition->categoryField);
    selection.setRatingListEnabled(definition->ratingListEnabled);
    selection.fillCategories(*definition);
    const int viewIndex = definition == &archive::gamesView() ? 0 : definition == &archive::discView() ? 1 : 2;
    sidebar_->showView(viewIndex);
    CurrentTableFile = std::string(definition->tableFile);
    Table1.databaseName = DataPath;
    Table1.tableName = CurrentTableFile;
    if (EditMode) {
        const WaitCursor waitCursor;
        DataSource1->setDataSet(&Table1);
        Table1.open();
        refuseForeignFields(Table1, CurrentView, CurrentTableFile);
    } else {
        selection.resetListsQuietly();
        SelectionFilter.clear();
        DataSource1->setDataSet(&Query1);
        DoSQL(CurrentTableFile);
    }
}

void TForm1::DoSQL(const std::string& tableFile) {
    QueryRun run{*sidebar_};
    const archive::QueryText text = archive::buildQueryText(*this, tableFile);
    SavedColumnIndex = currentColumn_;
    std::optional<TDataSource::SingleReset> singleReset;
    if (DataSource1->dataSet() == &Query1) singleReset.emplace(*DataSource1);
    Query1.close();
    Query1.databaseName = DataPath;
    Query1.sql.clear();
    Query1.sql = text.lines;
    Query1.prepare();
    Query1.open();
    refuseForeignFields(Query1, CurrentView, tableFile);
    singleReset.reset();
    setCurrentCell(Query1.recNo(), SavedColumnIndex);
    // What the next title keystroke needs over this order is worked out once
    // the rerun's frame is painted: posted below the window's update request.
    // The window's first frame comes from its exposure, not from an update
    // request, and would wait behind the post: until it is painted, the post
    // waits for it instead.
    auto prepareTitleSearch = [this] {
        QCoreApplication::removePostedEvents(this, kPrepareTitleSearch);
        QCoreApplication::postEvent(this, new QEvent(kPrepareTitleSearch), Qt::LowEventPriority - 1);
    };
    if (firstFramePainted_)
        prepareTitleSearch();
    else
        afterFirstFrame_.push_back(prepareTitleSearch);
    emit queryRerun();
}

void TForm1::FormatTable(const std::string& view) {
    const archive::ViewDef* definition = archive::findView(view);
    if (!definition) return;
    archive::DataSet& dataSet = shownDataSet();
    const int columns = std::min<int>(static_cast<int>(definition->fields.size()), dataSet.fieldCount());
    for (int column = 0; column < columns; ++column) {
        dataSet.setDisplayLabel(column, std::string(definition->fields[column].gridTitle));
        DBGrid1->setColumnWidth(column, definition->fields[column].gridWidth);
    }
    DataSource1->labelsChanged();
}

bool TForm1::event(QEvent* event) {
    // The grid and its headers lay out their rows and sections when first
    // asked after a change, which is in their paint at the latest; one that
    // does it while painting asks for a second frame. Asked now, before the
    // window paints, each rerun is shown in one frame.
    if (event->type() == QEvent::UpdateRequest && DBGrid1) {
        DBGrid1->indexAt(QPoint());
        DBGrid1->horizontalHeader()->count();
        DBGrid1->verticalHeader()->count();
    }
    if (event->type() == QEvent::Paint && !firstFramePainted_ && windowHandle() && windowHandle()->isExposed()) {
        firstFramePainted_ = true;
        const bool handled = QWidget::event(event);
        // From the event loop's next turn, once the frame is on its way to the screen.
        QMetaObject::invokeMethod(
            this,
            [this] {
                for (const std::function<void()>& work : afterFirstFrame_) work();
                afterFirstFrame_.clear();
            },
            Qt::QueuedConnection);
        return handled;
    }
    if (event->type() == kPrepareTitleSearch) {
        guarded(this, [&] { Query1.prepareSearch(archive::kTitleField); });
        return true;
    }
    return QWidget::event(event);
}

void TForm1::setCurrentCell(int row, int column) {
    const int columns = DataSource1->columnCount();
    if (columns == 0) return;
    const int clampedColumn = std::clamp(column, 0, columns - 1);
    currentColumn_ = clampedColumn;
    const QModelIndex cell = row >= 0 && row < DataSource1->rowCount() ? DataSource1->index(row, clampedColumn)
                                                                      : QModelIndex();
    syncingCursor_ = true;
    DBGrid1->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
    syncingCursor_ = false;
    if (cell.isValid()) DBGrid1->scrollTo(cell);
}

void TForm1::followDataSetCursor(int record) {
    if (syncingCursor_) return;
    setCurrentCell(record, currentColumn_);
}

void TForm1::onGridCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (syncingCursor_ || !current.isValid()) return;
    guarded(this, [&] {
        if (EditMode && previous.isValid() && previous.column() != current.column()) DBGrid1ColExit(previous.column());
        currentColumn_ = current.column();
        archive::DataSet& dataSet = shownDataSet();
        if (dataSet.recNo() != current.row()) {
            try {
                syncingCursor_ = true;
                dataSet.moveTo(current.row());
                syncingCursor_ = false;
            } catch (...) {
                syncingCursor_ = false;
                // The row the engine refused stays current and in editing.
                const int stay = dataSet.recNo();
                QMetaObject::invokeMethod(this, [this, stay] { setCurrentCell(stay, currentColumn_); },
                                          Qt::QueuedConnection);
                throw;
            }
        }
    });
}

// ---------------------------------------------------------------- sidebar commands

void TForm1::switchView(const std::string& view) {
    InitTable(view);
    FormatTable(CurrentView);
}

void TForm1::Image1Click() { switchView(std::string(archive::kViewGames)); }
void TForm1::Image2Click() { switchView(std::string(archive::kViewDisc)); }
void TForm1::Image3Click() { switchView(std::string(archive::kViewTips)); }

void TForm1::Image6Click() {
    if (EditMode) return;
    selectionModule().show();
    selectionModule().raise();
}

void TForm1::Image7Click() {
    if (EditMode) return;
    const int view = CurrentView == archive::kViewGames ? 0
                     : CurrentView == archive::kViewDisc  ? 1
                     : CurrentView == archive::kViewTips  ? 2
                                                          : -1;
    if (view < 0 || !windows_) return;
    windows_->statistics(view, true)->showStatistics();
}

void TForm1::Image10Click() {
    if (!windows_) return;
    TForm2& dialog = *windows_->infoDialog(true);
    tellInfoMode({EditMode, CurrentView == archive::kViewDisc, HardDiskMode});
    dialog.exec();
}

void TForm1::Image11Click() {
    if (EditMode) {
        Table1.first();
        Table1.close();
    }
    close();
    QApplication::quit();
}

void TForm1::Edit1Change() {
    if (EditMode) return;
    selectionModule().setTitleText(fromQt(Edit1->text()));
}

void TForm1::setSelectionIndicator(bool on) { sidebar_->setSelectionIndicator(on); }

void TForm1::setQuickTitleText(const std::string& text) {
    // Equal text is left alone: no second change, and the cursor stays put.
    const QString shown = toQt(text);
    if (Edit1->text() != shown) Edit1->setText(shown);
}

// ---------------------------------------------------------------- grid

void TForm1::DBGrid1TitleClick(int column) {
    if (EditMode) return;
    const archive::ViewDef* view = archive::findView(CurrentView);
    if (!view || column < 0 || column >= shownDataSet().fieldCount()) return;
    const archive::SortOrder next =
        archive::orderAfterTitleClick(*view, shownDataSet().displayLabel(column), {SortField, SortDirection});
    SortField = next.field;
    SortDirection = next.direction;
    DoSQL(CurrentTableFile);
    FormatTable(CurrentView);
}

void TForm1::DBGrid1CellClick(int column) {
    const archive::ViewDef* view = archive::findView(CurrentView);
    if (!view || !EditMode) return;
    if (editMode_.cellClicked(*view, column)) setCurrentCell(Table1.recNo(), 0);
}

void TForm1::DBGrid1ColExit(int column) {
    const archive::ViewDef* view = archive::findView(CurrentView);
    if (!view || !EditMode) return;
    const auto outcome = editMode_.columnLeft(*view, column);
    if (outcome && outcome->refused) MessageBox::showMessage(this, archive::kIssueEntryMessage);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DBGrid1 && EditMode) {
        if (event->type() == QEvent::KeyPress) {
            bool handled = false;
            guarded(this, [&] { handled = handleGridKey(static_cast<QKeyEvent*>(event)); });
            if (handled) return true;
        } else if (event->type() == QEvent::FocusOut) {
            guarded(this, [this] { editMode_.focusLost(); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm1::handleGridKey(QKeyEvent* event) {
    // Keys reach the grid itself only while no cell editor is open.
    using Key = EditModeController::GridKey;
    const Key key = event->key() == Qt::Key_Escape   ? Key::Escape
                    : event->key() == Qt::Key_Insert ? Key::Insert
                    : event->key() == Qt::Key_Delete ? Key::Delete
                    : event->key() == Qt::Key_Down   ? Key::Down
                                                     : Key::Other;
    switch (editMode_.key(key, event->modifiers() & Qt::ControlModifier)) {
    case EditModeController::KeyOutcome::NotHandled:
        return false;
    case EditModeController::KeyOutcome::Handled:
        return true;
    case EditModeController::KeyOutcome::ShowNewRow:
        setCurrentCell(Table1.recNo(), currentColumn_);
        return true;
    case EditModeController::KeyOutcome::ConfirmDelete:
        if (MessageBox::askOkCancel(this, kDeleteQuestion)) editMode_.deleteCurrent();
        return true;
    }
    return false;
}

void TForm1::Image4MouseDown(Qt::MouseButton, Qt::KeyboardModifiers modifiers, QPoint) {
    if (!(modifiers & Qt::ControlModifier) || !(modifiers & Qt::AltModifier)) return;
    const WaitCursor waitCursor;
    Table1.close();
    if (!EditMode) {
        // A table that cannot be opened (one the start refused, say) keeps
        // the browse mode: the box says why, nothing else changes.
        Table1.databaseName = DataPath;
        Table1.tableName = CurrentTableFile;
        Table1.setReadOnly(false);
        try {
            Table1.open();
            refuseForeignFields(Table1, CurrentView, CurrentTableFile);
        } catch (...) {
            Table1.close();
            Table1.setReadOnly(true);
            throw;
        }
        Table1.close();  // its image stays at hand for the opening below
    }
    EditMode = !EditMode;
    if (EditMode) {
        tellInfoMode({true, false, HardDiskMode});
        setWindowTitle(toQt(kEditModeCaption));
        applyGridLook();
        DBGrid1->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
        DataSource1->AutoEdit = true;
        Table1.setReadOnly(false);
        DataSource1->setDataSet(&Table1);
        Table1.open();
    } else {
        tellInfoMode({false, false, HardDiskMode});
        setWindowTitle(QString::fromLatin1(kApplicationTitle));
        applyGridLook();
        DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
        DataSource1->AutoEdit = false;
        Table1.setReadOnly(true);
        DataSource1->setDataSet(&Query1);
        DoSQL(CurrentTableFile);
    }
    InitTable(CurrentView);
    FormatTable(CurrentView);
}
