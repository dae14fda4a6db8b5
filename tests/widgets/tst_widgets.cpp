// The widget boundary: Windows-1252 text in and out of widgets, the error
// box's full-stop rule, capitals while typing and the click areas.

#include "clickarea.h"
#include "messagebox.h"
#include "qttexts.h"
#include "text.h"
#include "uppercasevalidator.h"
#include "windowicon.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QWindow>

class WidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void everyByteSurvivesTheWidgetBoundary();
    void errorTextGetsAFullStopAfterLettersOnly();
    void typedLettersBecomeCapitalsOneForOne();
    void clickAreaClicksOnReleaseInside();
    void guardedHandlerShowsTheFailure();
    void qtsOwnWordsAreGermanWhereTheCatalogueIs();
    void aWindowShownAtTheStartEndsWithTheWholeIcon();
    void aSplashCarriesOnlyTheSmallSizes();
};

void WidgetsTest::everyByteSurvivesTheWidgetBoundary() {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
    QCOMPARE(fromQt(toQt(all)), all);
    QCOMPARE(toQt("L\xF6sung \x80"), QString::fromUtf8("L\xC3\xB6sung \xE2\x82\xAC"));
    // A character with no Windows-1252 form becomes "?", one for one.
    QCOMPARE(fromQt(QString::fromUtf8("\xE2\x98\x83 x")), std::string("? x"));
    // A long value: the field holds its beginning, its rest stays unless the
    // field is emptied.
    const std::string rest(10, 'r');
    const std::string longValue = std::string(kShownCharacters, 'k') + rest;
    QCOMPARE(toQtEditable(longValue).size(), qsizetype(kShownCharacters));
    QCOMPARE(editedValue(toQtEditable(longValue), longValue), longValue);
    QCOMPARE(editedValue(QStringLiteral("neu"), longValue), "neu" + rest);
    QCOMPARE(editedValue(QString(), longValue), std::string());
    QCOMPARE(editedValue(QStringLiteral("kurz"), "alt"), std::string("kurz"));
}

void WidgetsTest::errorTextGetsAFullStopAfterLettersOnly() {
    QCOMPARE(MessageBox::errorText("Tabelle nicht gefunden"), std::string("Tabelle nicht gefunden."));
    QCOMPARE(MessageBox::errorText("Fertig."), std::string("Fertig."));
    QCOMPARE(MessageBox::errorText("Wirklich?"), std::string("Wirklich?."));  // '?' comes after '.'
    QCOMPARE(MessageBox::errorText("Zeile 2,"), std::string("Zeile 2,"));     // ',' comes before '.'
    QCOMPARE(MessageBox::errorText("L\xF6sung \xFC"), std::string("L\xF6sung \xFC."));
    QCOMPARE(MessageBox::errorText(""), std::string());
}

void WidgetsTest::typedLettersBecomeCapitalsOneForOne() {
    QLineEdit edit;
    edit.setValidator(new UpperCaseValidator(&edit));
    QTest::keyClicks(&edit, QStringLiteral("ab1"));
    QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_unknown, toQt("\xE4\xDF\xFF"), Qt::NoModifier);
    // ß has no capital of its own and stays one letter; ÿ becomes Ÿ.
    QCOMPARE(fromQt(edit.text()), std::string("AB1\xC4\xDF\x9F"));
    QCOMPARE(edit.cursorPosition(), 6);
}

void WidgetsTest::clickAreaClicksOnReleaseInside() {
    QWidget window;
    auto* area = new ClickArea(&window);
    area->setGeometry(10, 10, 50, 20);
    window.show();
    QSignalSpy clicks(area, &ClickArea::clicked);
    QTest::mouseClick(area, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(80, 5));  // let go outside
    QCOMPARE(clicks.count(), 1);
    QTest::mouseClick(area, Qt::RightButton);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(area->cursor().shape(), Qt::PointingHandCursor);
}

void WidgetsTest::guardedHandlerShowsTheFailure() {
    MessageBox::setAutoAnswer(true);
    MessageBox::clearShown();
    bool after = false;
    guarded(nullptr, [] { throw std::runtime_error("Feld 'XYZ' nicht gefunden"); });
    guarded(nullptr, [&] { after = true; });
    QVERIFY(after);
    QCOMPARE(MessageBox::shown().size(), size_t(1));
    QCOMPARE(MessageBox::shown().front().kind, MessageBox::Kind::Error);
    QCOMPARE(MessageBox::shown().front().text, std::string("Feld 'XYZ' nicht gefunden."));
}

void WidgetsTest::qtsOwnWordsAreGermanWhereTheCatalogueIs() {
    // A machine without the catalogue: nothing is installed, Qt stays English.
    const QTemporaryDir empty;
    QVERIFY(!installGermanQtTexts(empty.path()));
    QDialogButtonBox english(QDialogButtonBox::Cancel);
    QCOMPARE(english.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));

    if (!QFile::exists(qtTranslationsFolder() + QStringLiteral("/qtbase_de.qm")))
        QSKIP("Qt's German translations (Debian: qt6-translations-l10n) are not installed here");
    QVERIFY(installGermanQtTexts());
    QVERIFY(installGermanQtTexts());  // once only
    QCOMPARE(QCoreApplication::instance()->findChildren<QTranslator*>().size(), qsizetype(1));
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes | QDialogButtonBox::No);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(buttons.button(QDialogButtonBox::Yes)->text(), QStringLiteral("&Ja"));
    QCOMPARE(buttons.button(QDialogButtonBox::No)->text(), QStringLiteral("&Nein"));
    const char* notFound = "%1\nFile not found.\nPlease verify the correct file name was given.";
    QVERIFY(QCoreApplication::translate("QFileDialog", notFound).contains(QStringLiteral("nicht gefunden")));
}

// The window, what the window system was handed last, the application and a
// window opened while the first is being shown all have every size.
void WidgetsTest::aWindowShownAtTheStartEndsWithTheWholeIcon() {
    QIcon icon;
    for (const int side : {16, 32, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::red);
        icon.addPixmap(pixmap);
    }
    QApplication::setWindowIcon(icon);
    const QList<QSize> sizes = icon.availableSizes();

    class OpensAnother : public QWidget {
    public:
        QWidget other;
        QList<QSize> othersSizes;

    protected:
        void showEvent(QShowEvent*) override {
            other.show();
            othersSizes = other.windowHandle()->icon().availableSizes();
        }
    } window;
    showHandingIconOnce(window);
    QCOMPARE(window.windowIcon().availableSizes(), sizes);
    QCOMPARE(window.windowHandle()->icon().availableSizes(), sizes);
    QCOMPARE(window.othersSizes, sizes);
    QCOMPARE(QApplication::windowIcon().cacheKey(), icon.cacheKey());
    QApplication::setWindowIcon(QIcon());
}

// The window and what the window system was handed have the small sizes
// only; the application keeps the whole icon.
void WidgetsTest::aSplashCarriesOnlyTheSmallSizes() {
    QIcon icon;
    for (const int side : {16, 32, 48, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::red);
        icon.addPixmap(pixmap);
    }
    QApplication::setWindowIcon(icon);
    QWidget splash(nullptr, Qt::SplashScreen);
    showWithSmallIcon(splash);
    const QList<QSize> small = {QSize(16, 16), QSize(32, 32)};
    QCOMPARE(splash.windowIcon().availableSizes(), small);
    QCOMPARE(splash.windowHandle()->icon().availableSizes(), small);
    QCOMPARE(QApplication::windowIcon().cacheKey(), icon.cacheKey());
    QApplication::setWindowIcon(QIcon());
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
