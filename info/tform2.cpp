#include "tform2.h"

#include "engine.h"
#include "fonts.h"
#include "infohost.h"
#include "messagebox.h"
#include "palette.h"
#include "text.h"
#include "textexchange.h"
#include "tformfill.h"
#include "topendialog.h"
#include "waitcursor.h"
#include "wholefile.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr char kExportHint[] =
    "Exportiert die aktuelle Tabelle als TXT-Datei mit\nTabulator-Trennzeichen in das DATA-Verzeichnis.";
constexpr char kImportDone[] = "Import erfolgreich abgeschlossen.";
// The mode the dialog names: run from the disc, or from the hard-disk copy.
constexpr char kDiscModeCaption[] = "CD/DVD-Modus";
constexpr char kHardDiskModeCaption[] = "Festplatten-Modus";
constexpr char kRecordsInserted[] = " Datens\xE4tze eingef\xFCgt.";


}  // namespace

TForm2::TForm2(InfoHost& host, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      host_(host) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Info"));
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(pixelFont("MS Sans Serif", 11));
    FormFill1 = makeWindowBackdrop(this);

    Label9 = makeLabel("Label9", {8, 8, 161, 17}, kDiscModeCaption, palette::kLilac, 11, false);
    Label3 = makeLabel("Label3", {16, 8, 409, 25}, "Vortagon", palette::kNearWhite, 21, true);
    // The product name over its own shadow, three pixels down and to the right.
    Label4 = makeLabel("Label4", {17, 26, 409, 57}, "Quillora", palette::kWindow, 43, true);
    Label5 = makeLabel("Label5", {14, 22, 409, 57}, "Quillora", palette::kNearWhite, 43, true);
    Label6 = makeLabel("Label6", {320, 32, 81, 17}, "V 3.6a", palette::kLilac, 11, false);
    Label8 = makeLabel("Label8", {16, 78, 409, 17}, "Das Vortagon-Archiv: alle Tests, CD-Inhalte und Tipps",
                       palette::kWhite, 13, true);
    Label1 = makeLabel("Label1", {16, 96, 409, 33},
                       "Redaktion: Henrike Wallmoden, Jost Brandauer, Merle Schaffrath\n"
                       "Datenbank und Programm: Till Oberhausen",
                       palette::kNearWhite, 13, true);
    Label2 = makeLabel("Label2", {16, 136, 409, 25}, "Zusammengestellt von der Vortagon-Redaktion",
                       palette::kLilac, 13, true);
    Label7 = makeLabel("Label7", {16, 152, 409, 25}, "- - -", palette::kLilac, 13, true);

    Button2 = makeButton("Button2", {32, 184, 129, 25}, "ASCII-Export (.txt)");
    Button2->setToolTip(toQt(kExportHint));
    Button2->hide();
    Button3 = makeButton("Button3", {176, 184, 137, 25}, "ASCII-Import (.txt)");
    Button3->hide();
    Button1 = makeButton("Button1", {352, 184, 59, 25}, "Ok");
    Button1->setDefault(true);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { guarded(this, [this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { guarded(this, [this] { Button3Click(); }); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QLabel* TForm2::makeLabel(const char* name, QRect box, const std::string& text, const QColor& colour, int pixels,
                          bool centred) {
    auto* label = new QLabel(toQt(text), this);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(box);
    label->setFont(pixelFont("Arial", pixels, true));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
    label->setAutoFillBackground(false);
    return label;
}

QPushButton* TForm2::makeButton(const char* name, QRect box, const std::string& text) {
    auto* button = new QPushButton(toQt(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(box);
    button->setFont(pixelFont("Arial", 13, true));
    QPalette colours = button->palette();
    colours.setColor(QPalette::ButtonText, palette::kBlack);
    button->setPalette(colours);
    button->setAutoDefault(false);
    return button;
}

void TForm2::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TForm2::FormShow() {
    const archive::ViewState& state = host_.viewState();
    auto issue = [](int month, int year) { return std::to_string(month) + "/" + std::to_string(year); };
    Label7->setText(toQt("Aktuelle Daten: " + issue(state.GameLastMonth, state.GameLastYear) + " (Spiele); " +
                         issue(state.CDLastMonth, state.CDLastYear) + " (CD); " +
                         issue(state.TippsLastMonth, state.TippsLastYear) + " (Tipps)"));
}

void TForm2::Button1Click() { accept(); }

void TForm2::setMode(const InfoMode& mode) {
    Label9->setText(toQt(mode.hardDisk ? kHardDiskModeCaption : kDiscModeCaption));
    Button2->setVisible(mode.editMode);
    Button3->setVisible(mode.editMode && mode.importOffered);
}

void TForm2::Button2Click() {
    const WaitCursor waitCursor;
    archive::Table& table = host_.exchangeTable();
    if (!table.active()) throw archive::EngineError("Die Tabelle ist nicht zum Bearbeiten ge\xF6" "ffnet.");
    // Moving to the first record stores a pending change of the current one.
    table.first();
    const archive::ViewState& state = host_.viewState();
    // The file replaces an older export only once it is written whole; a
    // failure (a read-only disc, a full disk) is reported and changes nothing.
    archive::WholeFileWriter out(state.DataPath + "/" + state.CurrentTableFile + ".txt");
    archive::exportRecords(table, out);
    out.commit();
    table.first();
}

void TForm2::Button3Click() {
    importedRecords_ = 0;
    TOpenDialog& dialog = host_.importDialog();
    if (!dialog.Execute(this)) return;
    const WaitCursor waitCursor;
    archive::Table& table = host_.exchangeTable();
    if (!table.active()) throw archive::EngineError("Die Tabelle ist nicht zum Bearbeiten ge\xF6" "ffnet.");
    archive::ImportLineReader reader;
    // A file that cannot be read (missing, unreadable, a folder, a pipe, a
    // device) is told in the error box before anything reaches the table;
    // a pipe never makes the open wait.
    reader.open(dialog.FileName);
    // One transaction for the whole file. A refused record ends the import
    // with its error; every record before it stays stored.
    table.appendRecords([&](std::array<std::string, 4>& values) {
        std::string line;
        if (!reader.readLine(line)) return false;
        ++importedRecords_;
        values = archive::splitImportLine(line);
        return true;
    });
    reader.close();
    MessageBox::showMessage(this, std::string(kImportDone) + "\r" + std::to_string(importedRecords_) +
                                      kRecordsInserted);
}
