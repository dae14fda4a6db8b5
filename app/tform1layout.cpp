// The main window's controls, made and placed as the designer laid them out,
// and the grid's look in the browse and the edit mode.

#include "tform1.h"

#include "gridcelldelegate.h"
#include "messagebox.h"
#include "rowindicatorheader.h"
#include "sidebar.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1layout.h"
#include "tsuchpage.h"
#include "uppercasevalidator.h"
#include "usertexts.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

using namespace tform1layout;

void TForm1::loadLayout() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    setMinimumSize(kMinOuterWidth - kFrameWidth, kMinOuterHeight - kFrameHeight);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, palette::kWindow);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    sidebar_ = new Sidebar(this);
    connect(sidebar_, &Sidebar::commandClicked, this, [this](Sidebar::Command command) {
        guarded(this, [&] {
            switch (command) {
            case Sidebar::Command::Games: return Image1Click();
            case Sidebar::Command::Disc: return Image2Click();
            case Sidebar::Command::Tips: return Image3Click();
            case Sidebar::Command::Selection: return Image6Click();
            case Sidebar::Command::Statistics: return Image7Click();
            case Sidebar::Command::Info: return Image10Click();
            case Sidebar::Command::End: return Image11Click();
            }
        });
    });
    connect(sidebar_, &Sidebar::pictureMouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position) {
                guarded(this, [&] { Image4MouseDown(button, modifiers, position); });
            });

    OpenDialog1.DefaultExt = "txt";
    OpenDialog1.Filter = "Textdateien|*.TXT";

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(17, 280, 78, 18);
    Edit1->setValidator(new UpperCaseValidator(Edit1));
    Edit1->setToolTip(toQt(usertexts::kTitleFilterHint));
    QFont filterFont(QStringLiteral("Arial"), 9, QFont::Bold);
    Edit1->setFont(filterFont);
    Edit1->setFrame(false);
    Edit1->setTextMargins(1, 0, 1, 0);
    Edit1->setStyleSheet(QStringLiteral("QLineEdit { color: %1; background-color: %2; }").arg(hex(palette::kInputText), hex(kGridBackground)));
    connect(Edit1, &QLineEdit::textChanged, this, [this] { guarded(this, [this] { Edit1Change(); }); });

    DataSource1 = new TDataSource(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    rowIndicator_ = new RowIndicatorHeader(DBGrid1);
    DBGrid1->setVerticalHeader(rowIndicator_);
    DBGrid1->setGeometry(kGridLeft, kGridTop, 431, 434);
    DBGrid1->setModel(DataSource1);
    DBGrid1->setItemDelegate(new GridCellDelegate(DBGrid1));
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setTabKeyNavigation(true);
    DBGrid1->setShowGrid(true);
    DBGrid1->setWordWrap(false);
    DBGrid1->setCornerButtonEnabled(false);
    DBGrid1->horizontalHeader()->setSectionsClickable(true);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    DBGrid1->horizontalHeader()->setMinimumSectionSize(8);
    DBGrid1->horizontalHeader()->setMaximumSectionSize(kWidestCell);
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(17);
    DBGrid1->verticalHeader()->setFixedWidth(12);
    DBGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    DBGrid1->installEventFilter(this);
    applyGridLook();
    connect(DBGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { guarded(this, [&] { DBGrid1TitleClick(column); }); });
    connect(DBGrid1, &QTableView::clicked, this,
            [this](const QModelIndex& index) { guarded(this, [&] { DBGrid1CellClick(index.column()); }); });
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentChanged, this, &TForm1::onGridCurrentChanged);
    connect(DataSource1, &TDataSource::cursorMoved, this, &TForm1::followDataSetCursor);
    // The model shows no box; a value the engine refused is shown over the
    // active window, as the grid's editor raised it there.
    connect(DataSource1, &TDataSource::editRefused, this,
            [](const std::string& message) { MessageBox::showError(QApplication::activeWindow(), message); });

    // The grid has the keyboard focus when the window opens; the quick field comes next.
    setTabOrder(DBGrid1, Edit1);
    DBGrid1->setFocus();
}

void TForm1::applyGridLook() {
    const QColor& background = EditMode ? kEditGridBackground : kGridBackground;
    const QColor& text = EditMode ? palette::kBlack : kGridText;
    DBGrid1->setFont(QFont(QStringLiteral("Arial"), 8));
    DBGrid1->setStyleSheet(QStringLiteral("QTableView { background-color: %1; color: %2; gridline-color: %5; }"
                                          "QHeaderView::section { background-color: %3; color: %4; "
                                          "border: 1px solid %5; border-top-color: %6; "
                                          "border-left-color: %6; padding: 0px 2px; }"
                                          "QTableCornerButton::section { background-color: %3; }")
                               .arg(hex(background), hex(text), hex(kGridTitleColour), hex(kGridText),
                                    hex(palette::kGrey), hex(palette::kWhite)));
    QFont titleFont(QStringLiteral("Arial"), 8, QFont::Bold);
    DBGrid1->horizontalHeader()->setFont(titleFont);
    DBGrid1->verticalHeader()->setFont(titleFont);
    rowIndicator_->setMarkColour(kGridText);
}

// ---------------------------------------------------------------- start-up
