#include "tsuchpage.h"

#include "clickarea.h"
#include "messagebox.h"
#include "palette.h"
#include "pictures.h"
#include "querytext.h"
#include "tables.h"
#include "text.h"
#include "uppercasevalidator.h"
#include "usertexts.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace {

constexpr int kClientWidth = 115;
constexpr int kClientHeight = 217;
constexpr int kListItemHeight = 15;
const QColor& kInputBackground = palette::kInputBackground;
const QColor& kInputText = palette::kInputText;

// The open lists show their entries at a fixed height, as on the painted design.
class FixedHeightItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kListItemHeight);
        return size;
    }
};

// Arial 12 px bold, red on light grey; a disabled list keeps the greyed look.
void styleInput(QWidget* input) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    input->setFont(font);
    QPalette palette = input->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        for (const auto role : {QPalette::Base, QPalette::Button, QPalette::Window})
            palette.setColor(group, role, kInputBackground);
        for (const auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
            palette.setColor(group, role, kInputText);
    }
    input->setPalette(palette);
}

QComboBox* makePickList(QWidget* parent, const char* name, const std::string& hint) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    list->setItemDelegate(new FixedHeightItemDelegate(list));
    list->setToolTip(toQt(hint));
    styleInput(list);
    return list;
}

}  // namespace

TSuchPage::TSuchPage(SelectionHost& host, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      host_(host) {
    setObjectName(QStringLiteral("SuchPage"));
    setWindowTitle(QStringLiteral("Auswahl-Modul"));
    setFixedSize(kClientWidth, kClientHeight);
    QFont windowFont = QApplication::font();
    windowFont.setPixelSize(13);
    setFont(windowFont);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, kInputBackground);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    image3_ = new QLabel(this);
    image3_->setObjectName(QStringLiteral("Image3"));
    image3_->setGeometry(0, 0, kClientWidth, kClientHeight);
    image3_->setPixmap(picture(QStringLiteral("selection")));

    edit1_ = new QLineEdit(this);
    edit1_->setObjectName(QStringLiteral("Edit1"));
    edit1_->setGeometry(9, 26, 97, 23);
    edit1_->setValidator(new UpperCaseValidator(edit1_));
    edit1_->setToolTip(toQt(usertexts::kTitleFilterHint));
    styleInput(edit1_);

    comboBox1_ = makePickList(this, "ComboBox1", "Nur Spiele mit dieser Mindestwertung ausw\xE4hlen");
    comboBox1_->setGeometry(9, 81, 97, 23);
    for (const std::string_view threshold : archive::ratingThresholds()) comboBox1_->addItem(toQt(threshold));

    comboBox2_ = makePickList(this, "ComboBox2", "Nur Eintr\xE4ge dieser Kategorie anzeigen");
    comboBox2_->setGeometry(9, 135, 97, 23);
    comboBox2_->setCursor(Qt::PointingHandCursor);
    // The main window refills the list on every view switch; until then it
    // offers the view the program starts with.
    fillCategories(archive::gamesView());

    image2_ = new ClickArea(this);
    image2_->setObjectName(QStringLiteral("Image2"));
    image2_->setGeometry(8, 179, 48, 27);
    image1_ = new ClickArea(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(62, 179, 45, 27);

    setTabOrder(edit1_, comboBox1_);
    setTabOrder(comboBox1_, comboBox2_);

    connect(edit1_, &QLineEdit::textChanged, this, [this] { guarded(this, [this] { Edit1Change(); }); });
    // Only the user's picks run the handlers; the program sets the lists quietly.
    connect(comboBox1_, &QComboBox::activated, this, [this] { guarded(this, [this] { ComboBox1Change(); }); });
    connect(comboBox2_, &QComboBox::activated, this, [this] { guarded(this, [this] { ComboBox2Change(); }); });
    connect(image1_, &ClickArea::clicked, this, [this] { guarded(this, [this] { Image1Click(); }); });
    connect(image2_, &ClickArea::clicked, this, [this] { guarded(this, [this] { Image2Click(); }); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - rect().center());
    }

    FormCreate();
}

void TSuchPage::FormCreate() {
    comboBox1_->setCurrentIndex(0);
    comboBox2_->setCurrentIndex(0);
}

void TSuchPage::setTitleText(const std::string& text) {
    // Setting the same text again would put the cursor at the end while the
    // user types in the middle; an equal text is no change at all.
    const QString shown = toQt(text);
    if (edit1_->text() != shown) edit1_->setText(shown);
}

void TSuchPage::Edit1Change() {
    const std::string text = fromQt(edit1_->text());
    // The main window's quick field copies its text back here; being equal by
    // then, it raises no second change, so one keystroke runs one query.
    host_.setQuickTitleText(text);
    host_.viewState().TitleFilter = archive::titleFilterFor(text);
    Suchen();
}

void TSuchPage::ComboBox1Change() { Suchen(); }

void TSuchPage::ComboBox2Change() {
    const int row = comboBox2_->currentIndex() + 1;
    for (StatisticsWindowLink* window : statisticsWindows_)
        if (window->isStatisticsShown()) window->selectCategoryRow(row);
    Suchen();
}

void TSuchPage::Image1Click() { hide(); }

void TSuchPage::Image2Click() {
    resetListsQuietly();
    edit1_->clear();  // runs Edit1Change when the box held text
    archive::ViewState& state = host_.viewState();
    state.TitleFilter.clear();
    state.SelectionFilter.clear();
    Suchen();
    hide();
}

void TSuchPage::Suchen() {
    archive::ViewState& state = host_.viewState();
    const std::string categoryText = fromQt(comboBox2_->currentText());
    const std::string ratingText = fromQt(comboBox1_->currentText());
    state.SelectionFilter = archive::selectionFilterFor(state.CategoryField, categoryText, ratingText);

    // An engine failure ends the search here: the lamp and the statistics keep
    // showing the last selection that ran.
    host_.DoSQL(state.CurrentTableFile);
    host_.FormatTable(state.CurrentView);

    const bool noCriterion =
        ratingText == archive::kAllEntries && categoryText == archive::kAllEntries && edit1_->text().isEmpty();
    host_.setSelectionIndicator(!noCriterion);

    for (StatisticsWindowLink* window : statisticsWindows_) {
        if (window->isStatisticsShown() && isVisible()) {
            window->recomputeAndRepaint();
            // The refreshed window came forward; the selection comes back on top.
            show();
            raise();
        }
    }
}

void TSuchPage::clearCategories() { comboBox2_->clear(); }

void TSuchPage::fillCategories(const archive::ViewDef& view) {
    comboBox2_->clear();
    comboBox2_->addItem(toQt(archive::kAllEntries));
    for (const std::string_view category : view.categories) comboBox2_->addItem(toQt(category));
}

void TSuchPage::setRatingListEnabled(bool enabled) { comboBox1_->setEnabled(enabled); }

void TSuchPage::resetListsQuietly() {
    const QSignalBlocker ratingBlocker(comboBox1_);
    const QSignalBlocker categoryBlocker(comboBox2_);
    comboBox1_->setCurrentIndex(0);
    comboBox2_->setCurrentIndex(0);
}

void TSuchPage::addStatisticsWindow(StatisticsWindowLink& window) { statisticsWindows_.push_back(&window); }
