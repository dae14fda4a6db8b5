// The drawn parts of the dialogs: the banded backdrop under everything else,
// the turned axis captions, and the font names the layouts use.

#include "fonts.h"
#include "text.h"
#include "tformfill.h"
#include "tfxlabel.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTest>

#include <climits>
#include <utility>
#include <vector>

namespace {

// What the window system holds for a shown window, partial repaints and all;
// grab() would paint the whole window anew.
QImage onScreen(QWidget& window) {
    return QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage rendered(QWidget& window) { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRgb rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }
QRgb rgb(QRgb colour) { return colour & 0xFFFFFF; }

void showAndSettle(QWidget& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
}

// Remembers the regions the window was asked to repaint.
class PaintRecorder : public QObject {
public:
    std::vector<QRegion> regions;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

// A window whose own paint handler draws, as the statistics charts do.
class ChartWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(100, 50, 20, 30), Qt::red);
    }
};

class MouseWindow : public QWidget {
public:
    std::vector<QPoint> moves;

protected:
    void mouseMoveEvent(QMouseEvent* event) override { moves.push_back(event->position().toPoint()); }
};

struct InkBox {
    int count = 0;
    int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;
};

// Pixels of `area` that are not the plain white the label stands on.
InkBox inkIn(const QImage& image, const QRect& area) {
    InkBox ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (rgb(image, x, y) == 0xFFFFFF) continue;
            ++ink.count;
            ink.left = std::min(ink.left, x - area.left());
            ink.right = std::max(ink.right, x - area.left());
            ink.top = std::min(ink.top, y - area.top());
            ink.bottom = std::max(ink.bottom, y - area.top());
        }
    }
    return ink;
}

// A white window with one caption label at (10, 10), as beside a chart.
struct CaptionWindow {
    QWidget window;
    TFxLabel* label;
    CaptionWindow(int labelHeight, const std::string& caption, int angle) {
        window.resize(60, labelHeight + 20);
        QPalette white = window.palette();
        white.setColor(QPalette::Window, Qt::white);
        window.setPalette(white);
        window.setAutoFillBackground(true);
        label = new TFxLabel(&window);
        label->setGeometry(10, 10, 16, labelHeight);
        label->setFontColor(Qt::blue);
        label->setAlignment(agBottomLeft);
        label->FontFX.setAngle(angle);
        label->setCaption(caption);
    }
    InkBox ink() { return inkIn(rendered(window), label->geometry()); }
};

}  // namespace

class BackdropTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void mulDivRoundsHalvesAwayFromZero();
    void colourTableRunsFromStartToEnd();
    void bandRowsFollowTheClientHeight_data();
    void bandRowsFollowTheClientHeight();
    void partialRepaintLinesUpWithTheWholeBackdrop();
    void resizeAndPropertyChangesRepaintTheWholeBackdrop();
    void shortWindowShowsFewerColoursAndEmptyDrawsNothing();
    void disabledBackdropShowsTheWindowColour();
    void ownPaintingAndChildrenDrawOverTheBackdrop();

    void turnedCaptionStartsAtTheBottomAndRunsUp();
    void longCaptionIsCutAtTheTop();
    void angleIsKeptBelowAFullTurn();
    void referencePointFollowsTheCaptionWidth();
    void mousePassesThroughTheCaption();

    void layoutFontsResolveToMetricTwins();
};

void BackdropTest::initTestCase() { installProgramFonts(); }

void BackdropTest::mulDivRoundsHalvesAwayFromZero() {
    QCOMPARE(MulDiv(1, 1, 2), 1);
    QCOMPARE(MulDiv(-1, 1, 2), -1);
    QCOMPARE(MulDiv(5, 7, -2), -18);  // -17.5
    QCOMPARE(MulDiv(-1, -1, 4), 0);
    QCOMPARE(MulDiv(-3, 1, 4), -1);
    // The product needs 64 bits; the quotient fits again.
    QCOMPARE(MulDiv(2000000000, 2000000000, 2000000000), 2000000000);
    QCOMPARE(MulDiv(INT_MIN, 1, 1), INT_MIN);
    QCOMPARE(MulDiv(INT_MAX, 2, 1), -1);
    QCOMPARE(MulDiv(7, 3, 0), -1);
}

void BackdropTest::colourTableRunsFromStartToEnd() {
    QWidget window;
    TFormFill* fill = makeWindowBackdrop(&window);
    QCOMPARE(fill->objectName(), QStringLiteral("FormFill1"));
    QCOMPARE(fill->parent(), &window);
    QCOMPARE(window.palette().color(QPalette::Window), QColor(0x01, 0x00, 0x41));
    QVERIFY(window.autoFillBackground());

    const std::vector<QRgb>& table = fill->fillObject().gradient().colorTable();
    QCOMPARE(table.size(), size_t(64));
    const std::pair<int, QRgb> listed[] = {{0, 0x353556},  {1, 0x343456},  {2, 0x333355}, {31, 0x1B1B4C},
                                           {32, 0x1B1A4B}, {62, 0x020141}, {63, 0x010041}};
    for (auto [index, colour] : listed) QCOMPARE(rgb(table[index]), colour);
    QCOMPARE(QSet<QRgb>(table.begin(), table.end()).size(), 64);

    // A rising component, and the count kept within its range.
    TGradient gradient;
    gradient.setColor(qRgb(0x00, 0x10, 0xFF));
    gradient.setEndColor(qRgb(0xFF, 0x10, 0x00));
    gradient.setColorCount(1);
    QCOMPARE(gradient.colorCount(), 2);
    QCOMPARE(rgb(gradient.colorTable()[0]), QRgb(0x0010FF));
    QCOMPARE(rgb(gradient.colorTable()[1]), QRgb(0xFF1000));
    gradient.setColorCount(3);
    QCOMPARE(rgb(gradient.colorTable()[1]), QRgb(0x80107F));  // 127.5 and -127.5 both go outwards
    gradient.setColorCount(1000);
    QCOMPARE(gradient.colorCount(), 236);
    QCOMPARE(gradient.colorTable().size(), size_t(236));
}

void BackdropTest::bandRowsFollowTheClientHeight_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<int>>("firstBands");  // first and last row of bands 0, 1, 2, 3
    QTest::addColumn<int>("lastBandTop");        // band 63 runs from here to the bottom
    QTest::newRow("info dialog") << 224 << QList<int>{0, 3, 4, 6, 7, 10, 11, 13} << 221;
    QTest::newRow("game statistics") << 396 << QList<int>{0, 5, 6, 11, 12, 18, 19, 24} << 390;
    QTest::newRow("disc statistics") << 273 << QList<int>{0, 3, 4, 8, 9, 12, 13, 16} << 269;
    QTest::newRow("tips statistics") << 241 << QList<int>{0, 3, 4, 7, 8, 10, 11, 14} << 237;
}

void BackdropTest::bandRowsFollowTheClientHeight() {
    QFETCH(int, height);
    QFETCH(QList<int>, firstBands);
    QFETCH(int, lastBandTop);
    QWidget window;
    window.resize(441, height);
    const std::vector<QRgb> table = makeWindowBackdrop(&window)->fillObject().gradient().colorTable();
    const QImage image = rendered(window);
    QCOMPARE(image.height(), height);

    auto expectRows = [&](int first, int last, int band) {
        for (int y = first; y <= last; ++y) {
            QCOMPARE(rgb(image, 0, y), rgb(table[band]));
            QCOMPARE(rgb(image, 440, y), rgb(table[band]));
        }
    };
    for (int band = 0; band < 4; ++band) expectRows(firstBands[2 * band], firstBands[2 * band + 1], band);
    expectRows(lastBandTop, height - 1, 63);
    QCOMPARE(rgb(image, 0, lastBandTop - 1), rgb(table[62]));

    QSet<QRgb> colours;
    for (int y = 0; y < height; ++y) colours.insert(rgb(image, 220, y));
    QCOMPARE(colours.size(), 64);
}

void BackdropTest::partialRepaintLinesUpWithTheWholeBackdrop() {
    QWidget window;
    window.resize(441, 224);
    makeWindowBackdrop(&window);
    auto* label = new QLabel(QStringLiteral("- - -"), &window);
    label->setGeometry(16, 152, 409, 25);  // across several bands near the bottom
    label->setFont(pixelFont("MS Sans Serif", 11));  // as in the info dialog
    label->setStyleSheet(QStringLiteral("color: white"));
    showAndSettle(window);

    PaintRecorder recorder;
    window.installEventFilter(&recorder);
    label->setText(QStringLiteral("Aktuelle Daten: 9/2004 (Spiele); 10/2004 (CD); 9/2004 (Tipps)"));
    QTRY_VERIFY(!recorder.regions.empty());
    QCoreApplication::processEvents();
    // Only the label's patch of the window was repainted.
    for (const QRegion& region : recorder.regions) QVERIFY(label->geometry().contains(region.boundingRect()));

    const QImage partial = onScreen(window);
    const QImage whole = rendered(window);
    QCOMPARE(partial.size(), whole.size());
    QCOMPARE(partial, whole);
    // The label has no background: beyond its text it shows the bands.
    for (int y = 152; y < 177; ++y) QCOMPARE(rgb(partial, 420, y), rgb(partial, 2, y));
    QVERIFY(rgb(partial, 420, 152) != rgb(partial, 420, 176));
}

void BackdropTest::resizeAndPropertyChangesRepaintTheWholeBackdrop() {
    QWidget window;
    window.resize(441, 224);
    TFormFill* fill = makeWindowBackdrop(&window);
    const std::vector<QRgb> table = fill->fillObject().gradient().colorTable();
    showAndSettle(window);
    QCOMPARE(rgb(onScreen(window), 5, 7), rgb(table[2]));

    window.resize(558, 396);
    QTRY_COMPARE(onScreen(window).height(), 396);
    QTRY_COMPARE(rgb(onScreen(window), 5, 12), rgb(table[2]));
    const QImage resized = onScreen(window);
    QCOMPARE(rgb(resized, 5, 7), rgb(table[1]));
    QCOMPARE(rgb(resized, 5, 18), rgb(table[2]));
    QCOMPARE(rgb(resized, 550, 390), rgb(table[63]));
    QCOMPARE(rgb(resized, 550, 389), rgb(table[62]));
    QCOMPARE(fill->backdrop().size(), QSize(558, 396));

    fill->fillObject().gradient().setColor(qRgb(0xFF, 0xFF, 0xFF));
    QTRY_COMPARE(rgb(onScreen(window), 300, 0), QRgb(0xFFFFFF));
    QCOMPARE(rgb(onScreen(window), 300, 395), QRgb(0x010041));
}

void BackdropTest::shortWindowShowsFewerColoursAndEmptyDrawsNothing() {
    QWidget window;
    window.resize(100, 40);
    TFormFill* fill = makeWindowBackdrop(&window);
    const std::vector<QRgb> table = fill->fillObject().gradient().colorTable();
    const QImage image = rendered(window);
    QSet<QRgb> colours;
    for (int y = 0; y < 40; ++y) colours.insert(rgb(image, 50, y));
    QCOMPARE(colours.size(), 40);
    QCOMPARE(rgb(image, 50, 0), rgb(table[0]));
    QCOMPARE(rgb(image, 50, 39), rgb(table[63]));

    window.resize(100, 0);
    QVERIFY(fill->backdrop().isNull());
    window.resize(0, 40);
    QVERIFY(fill->backdrop().isNull());
}

void BackdropTest::disabledBackdropShowsTheWindowColour() {
    QWidget window;
    window.resize(200, 100);
    TFormFill* fill = makeWindowBackdrop(&window);
    showAndSettle(window);
    QCOMPARE(rgb(onScreen(window), 10, 0), QRgb(0x353556));

    fill->setEnabled(false);
    QTRY_COMPARE(rgb(onScreen(window), 10, 0), QRgb(0x010041));
    const QImage plain = onScreen(window);
    for (int y = 0; y < 100; y += 7) QCOMPARE(rgb(plain, 150, y), QRgb(0x010041));
    QVERIFY(fill->backdrop().isNull());

    fill->setEnabled(true);
    QTRY_COMPARE(rgb(onScreen(window), 10, 0), QRgb(0x353556));
    fill->fillObject().setStyle(sfNone);
    QTRY_COMPARE(rgb(onScreen(window), 10, 0), QRgb(0x010041));
}

void BackdropTest::ownPaintingAndChildrenDrawOverTheBackdrop() {
    ChartWindow window;
    window.resize(558, 396);
    makeWindowBackdrop(&window);
    auto* caption = new TFxLabel(&window);
    caption->setGeometry(522, 16, 16, 165);
    caption->setAlignment(agBottomLeft);
    caption->setFontColor(Qt::white);
    caption->FontFX.setAngle(90);
    caption->setCaption(" Anzahl");
    const QImage image = rendered(window);
    QCOMPARE(rgb(image, 110, 60), QRgb(0xFF0000));  // the chart
    QCOMPARE(rgb(image, 99, 60), rgb(image, 0, 60));
    QCOMPARE(rgb(image, 0, 60), rgb(image, 557, 60));
    // The caption's letters over the bands, bands all round them.
    const InkBox ink = inkIn(image, caption->geometry());
    QVERIFY(ink.count > 0);
    QCOMPARE(rgb(image, 537, 100), rgb(image, 0, 100));
    QCOMPARE(rgb(image, 522, 20), rgb(image, 0, 20));
}

void BackdropTest::turnedCaptionStartsAtTheBottomAndRunsUp() {
    CaptionWindow captionWindow(165, "Hx", 90);
    const QFontMetrics metrics(captionWindow.label->font());
    const int lineHeight = metrics.height();
    const int width = metrics.horizontalAdvance(QStringLiteral("Hx"));
    const InkBox ink = captionWindow.ink();
    QVERIFY(ink.count > 0);
    // Nothing in the two bottom rows; the H's stem starts just above them.
    const int bottomRow = 164;
    QVERIFY2(ink.bottom <= bottomRow - 2 && ink.bottom >= bottomRow - 3 - metrics.leftBearing(QLatin1Char('H')),
             qPrintable(QString::number(ink.bottom)));
    QVERIFY(ink.top >= bottomRow - 2 - width);
    QVERIFY(ink.left >= 0 && ink.right < lineHeight);

    // Tops of the letters towards the left edge: the bar of a T lies left.
    CaptionWindow bars(165, "TTTT", 90);
    const QImage image = rendered(bars.window);
    const QRect area = bars.label->geometry();
    int busiest = -1, most = -1;
    for (int x = 0; x < area.width(); ++x) {
        int count = 0;
        for (int y = 0; y < area.height(); ++y)
            if (rgb(image, area.left() + x, area.top() + y) != 0xFFFFFF) ++count;
        if (count > most) most = count, busiest = x;
    }
    QVERIFY2(busiest < lineHeight / 2, qPrintable(QString::number(busiest)));
}

void BackdropTest::longCaptionIsCutAtTheTop() {
    CaptionWindow captionWindow(60, "Testanzahlschnitt (max=12.3)", 90);
    const InkBox ink = captionWindow.ink();
    QCOMPARE(ink.top, 0);
    QVERIFY2(ink.bottom >= 55 && ink.bottom <= 57, qPrintable(QString::number(ink.bottom)));
    // Nothing spills over the label onto the window.
    const QImage image = rendered(captionWindow.window);
    for (int x = 0; x < 60; ++x)
        for (int y = 0; y < 10; ++y) QCOMPARE(rgb(image, x, y), QRgb(0xFFFFFF));
    // A short caption starts at the same place.
    captionWindow.label->setCaption("Tx");
    QCOMPARE(captionWindow.ink().bottom, ink.bottom);
}

void BackdropTest::angleIsKeptBelowAFullTurn() {
    CaptionWindow captionWindow(165, "Hx", 360);
    QCOMPARE(captionWindow.label->FontFX.angle(), 0);
    // Upright: one text line along the bottom edge.
    const QFontMetrics metrics(captionWindow.label->font());
    const InkBox upright = captionWindow.ink();
    QVERIFY(upright.count > 0);
    QVERIFY(upright.top >= 165 - metrics.height());
    QVERIFY(upright.right - upright.left > upright.bottom - upright.top);

    captionWindow.label->FontFX.setAngle(450);
    QCOMPARE(captionWindow.label->FontFX.angle(), 90);
    captionWindow.label->FontFX.setAngle(-90);
    QCOMPARE(captionWindow.label->FontFX.angle(), 270);
}

void BackdropTest::referencePointFollowsTheCaptionWidth() {
    CaptionWindow captionWindow(165, " Anzahl", 90);
    captionWindow.label->FontFX.PosY = 999;
    QCOMPARE(int(captionWindow.label->FontFX.PosY), 999);  // until painted
    const int width = QFontMetrics(captionWindow.label->font()).horizontalAdvance(QStringLiteral(" Anzahl"));
    captionWindow.ink();
    QCOMPARE(int(captionWindow.label->FontFX.PosX), 0);
    QCOMPARE(int(captionWindow.label->FontFX.PosY), 2 * (width / 2));
    QCOMPARE(int(captionWindow.label->FontFX.PosY), 36);

    captionWindow.label->setCaption(" Wertungsschnitt");
    captionWindow.ink();
    QCOMPARE(int(captionWindow.label->FontFX.PosY), 82);
}

void BackdropTest::mousePassesThroughTheCaption() {
    MouseWindow window;
    window.resize(558, 396);
    window.setMouseTracking(true);
    auto* caption = new TFxLabel(&window);
    caption->setGeometry(522, 16, 16, 165);
    caption->setMouseTracking(true);  // would take the move if it were a target
    caption->setCaption(" Anzahl");
    showAndSettle(window);

    const QPoint inside(530, 170);
    QCOMPARE(window.childAt(inside), nullptr);
    QTest::mouseMove(&window, inside);
    QTRY_VERIFY(!window.moves.empty());
    QCOMPARE(window.moves.back(), inside);
}

void BackdropTest::layoutFontsResolveToMetricTwins() {
    installFontSubstitutions();  // a second call adds nothing
    QCOMPARE(QFont::substitutes(QStringLiteral("Arial")).size(), 1);
    QCOMPARE(QFontInfo(QFont(QStringLiteral("Arial"), 8)).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(QFontInfo(QFont(QStringLiteral("MS Sans Serif"), 8)).family(), QStringLiteral("Liberation Sans"));
    // What names no font of its own, a message box too, has the layouts' system font.
    QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(QApplication::font().pixelSize(), 11);
    const QMessageBox box(QMessageBox::Critical, QStringLiteral("Quillora"), QStringLiteral("Fehler."));
    QCOMPARE(QFontInfo(box.font()).family(), QStringLiteral("Liberation Sans"));

    QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInchY(), 96.0);
    const QFont arial(QStringLiteral("Arial"), 8);
    const int width = QFontMetrics(arial).horizontalAdvance(toQt(" Anzahl"));
    QVERIFY2(width == 36 || width == 37, qPrintable(QString::number(width)));
    QCOMPARE(QFontMetrics(arial).horizontalAdvance(toQt(" Anzahl")), width);
}

QTEST_MAIN(BackdropTest)
#include "tst_backdrop.moc"
