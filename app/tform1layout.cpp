// The main window's controls, made and placed as the designer laid them out,
// and the grid's look in the browse and the edit mode.

#include "tform1.h"

#include "clickarea.h"
#include "gridcelldelegate.h"
#include "messagebox.h"
#include "pictures.h"
#include "rowindicatorheader.h"
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

namespace {

constexpr char kSelectionHint[] = "W\xE4hlt Spiele nach bestimmten Kriterien aus";

}  // namespace

void TForm1::loadLayout() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    resize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    setMinimumSize(kMinOuterWidth - kFrameWidth, kMinOuterHeight - kFrameHeight);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, palette::kWindow);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    Image4 = new SidebarPicture(this);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setGeometry(0, 0, 130, 453);
    Image4->setPixmap(picture(QStringLiteral("sidebar")));
    connect(Image4, &SidebarPicture::mouseDown, this, [this](Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                                             QPoint position) {
        guarded(this, [&] { Image4MouseDown(button, modifiers, position); });
    });

    auto makePicture = [this](const char* name, const char* pictureName, QRect box) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(box);
        label->setPixmap(picture(QString::fromLatin1(pictureName)));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->hide();
        return label;
    };
    auto highlightOf = [&](const ViewButton& button) {
        QRect box = button.areaBox;
        box.setWidth(button.highlightWidth);
        return makePicture(button.highlight, button.picture, box);
    };
    Aktiv1 = highlightOf(kViewButtons[0]);
    Aktiv2 = highlightOf(kViewButtons[1]);
    Aktiv3 = highlightOf(kViewButtons[2]);
    Aktiv4 = makePicture("Aktiv4", "aktiv4", {12, 234, 91, 24});
    Aktiv4->setToolTip(toQt(kSelectionHint));
    LED1 = makePicture("LED1", "led", {kLampLeft, kViewButtons[0].areaBox.top() + kLampOffset, 14, 13});
    LED1->show();
    LED2 = makePicture("LED2", "led", {kLampLeft, 246, 14, 13});

    auto makeCommand = [this](const char* name, QRect box, void (TForm1::*handler)()) {
        auto* area = new ClickArea(this);
        area->setObjectName(QString::fromLatin1(name));
        area->setGeometry(box);
        connect(area, &ClickArea::clicked, this, [this, handler] { guarded(this, [&] { (this->*handler)(); }); });
        return area;
    };
    Image1 = makeCommand(kViewButtons[0].area, kViewButtons[0].areaBox, &TForm1::Image1Click);
    Image2 = makeCommand(kViewButtons[1].area, kViewButtons[1].areaBox, &TForm1::Image2Click);
    Image3 = makeCommand(kViewButtons[2].area, kViewButtons[2].areaBox, &TForm1::Image3Click);
    Image6 = makeCommand("Image6", {12, 234, 90, 24}, &TForm1::Image6Click);
    Image6->setToolTip(toQt(kSelectionHint));
    Image7 = makeCommand("Image7", {12, 327, 90, 24}, &TForm1::Image7Click);
    Image10 = makeCommand("Image10", {11, 401, 50, 25}, &TForm1::Image10Click);
    Image11 = makeCommand("Image11", {69, 401, 50, 25}, &TForm1::Image11Click);

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
    for (ClickArea* area : {Image1, Image2, Image3, Image6, Image7, Image10, Image11}) area->setFocusPolicy(Qt::NoFocus);
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
