// The pictures of the windows: each renders at the size its window gives it,
// and the sidebar leaves room for what lies over it.
// With QUILLORA_PICTURES_DIR set, the renderings are saved there as PNG to look at.

#include "fonts.h"
#include "pictures.h"
#include "prerendered.h"
#include "svgpicture.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSet>
#include <QtTest>

namespace {

QImage rendered(const QString& name) {
    const QImage image = picture(name).toImage().convertToFormat(QImage::Format_ARGB32);
    const QString folder = qEnvironmentVariable("QUILLORA_PICTURES_DIR");
    if (!folder.isEmpty() && !image.isNull()) image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& test) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixelColor(x, y))) ++count;
    return count;
}

bool isOpaque(QColor colour) { return colour.alpha() == 255; }
bool isReddish(QColor colour) { return colour.red() > 150 && colour.green() < 90 && colour.blue() < 90; }
bool isLight(QColor colour) { return colour.red() > 200 && colour.green() > 200 && colour.blue() > 200; }

}  // namespace

class PicturesTest : public QObject {
    Q_OBJECT

private slots:
    // The program draws its texts, and the build drew the pictures', under these.
    void initTestCase() { installFontSubstitutions(); }

    // The pixels the program carries are those its SVG files draw now: none
    // is stale, and none was shifted, swapped or scaled on its way in.
    void carriesWhatItsSvgDraws_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("side");  // 0: the picture's own size
        // Every image the program carries, from the build's own list.
        for (int i = 0; i < kPrerenderedPictureCount; ++i) {
            const PrerenderedPicture& carried = kPrerenderedPictures[i];
            if (carried.count == 1) {
                QTest::newRow(carried.name) << carried.name << 0;
                continue;
            }
            for (int k = 0; k < carried.count; ++k)
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(carried.name)).arg(carried.images[k].width)))
                    << carried.name << carried.images[k].width;
        }
    }

    void carriesWhatItsSvgDraws() {
        QFETCH(QString, name);
        QFETCH(int, side);
        const QString file = QStringLiteral(QUILLORA_PICTURES_SOURCE_DIR "/%1.svg").arg(name);
        const QImage drawn = svgPicture(file, QSize(side, side)).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!drawn.isNull());
        const QPixmap carried = side ? programIcon().pixmap(QSize(side, side)) : picture(name);
        QCOMPARE(carried.toImage().convertToFormat(QImage::Format_ARGB32), drawn);
    }

    void rendersAtItsSize_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("opaque");
        QTest::newRow("sidebar") << "sidebar" << QSize(130, 453) << true;
        for (const char* name : {"aktiv1", "aktiv2", "aktiv3", "aktiv4"})
            QTest::newRow(name) << name << QSize(91, 24) << true;
        QTest::newRow("led") << "led" << QSize(14, 13) << false;
        QTest::newRow("wait") << "wait" << QSize(153, 78) << true;
        QTest::newRow("selection") << "selection" << QSize(115, 217) << true;
    }

    void rendersAtItsSize() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QFETCH(bool, opaque);
        const QImage image = rendered(name);
        QCOMPARE(image.size(), size);
        const int visible = countPixels(image, image.rect(), [](QColor c) { return c.alpha() > 0; });
        QVERIFY2(visible > 0, "nothing drawn");
        // A picture that fills its place must not let the window through anywhere.
        if (opaque) QCOMPARE(countPixels(image, image.rect(), isOpaque), size.width() * size.height());
    }

    void highlightedButtonsAreRedWithLightLabelsAndDiffer() {
        QSet<QByteArray> seen;
        for (const char* name : {"aktiv1", "aktiv2", "aktiv3", "aktiv4"}) {
            const QImage image = rendered(QString::fromLatin1(name));
            QVERIFY2(countPixels(image, image.rect(), isReddish) > image.width() * image.height() / 2, name);
            QVERIFY2(countPixels(image, image.rect(), isLight) > 20, name);
            seen.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
        QCOMPARE(seen.size(), 4);  // four labels, four pictures
    }

    void lampIsARedDotWithClearCorners() {
        const QImage image = rendered(QStringLiteral("led"));
        QVERIFY(isReddish(image.pixelColor(7, 7)) || isReddish(image.pixelColor(6, 6)));
        for (const QPoint corner : {QPoint(0, 0), QPoint(13, 0), QPoint(0, 12), QPoint(13, 12)})
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
    }

    // The lamps and the quick field lie over the sidebar: their places hold
    // nothing but the plain background, and the painted buttons are where the
    // click areas are.
    void sidebarLeavesTheLampsFreeAndPaintsTheButtons() {
        const QImage image = rendered(QStringLiteral("sidebar"));
        const QColor background = image.pixelColor(112, 140);
        for (const QRect lamp : {QRect(112, 140, 14, 13), QRect(112, 165, 14, 13), QRect(112, 190, 14, 13),
                                 QRect(112, 246, 14, 13)}) {
            const int same = countPixels(image, lamp, [&](QColor c) { return c == background; });
            QVERIFY2(same == lamp.width() * lamp.height(), qPrintable(QStringLiteral("lamp at %1,%2 is drawn over")
                                                                           .arg(lamp.x())
                                                                           .arg(lamp.y())));
        }
        // Every click area shows a button face with a light label on it.
        for (const QRect button : {QRect(12, 128, 91, 24), QRect(12, 153, 91, 24), QRect(12, 178, 90, 24),
                                   QRect(12, 234, 90, 24), QRect(12, 327, 90, 24), QRect(11, 401, 50, 25),
                                   QRect(69, 401, 50, 25)}) {
            const QRect inside = button.adjusted(3, 3, -3, -3);
            const int face = countPixels(image, inside, [](QColor c) {
                return qAbs(c.red() - 0x4B) < 24 && qAbs(c.green() - 0x4B) < 24 && qAbs(c.blue() - 0x5F) < 24;
            });
            QVERIFY2(face > inside.width() * inside.height() / 2,
                     qPrintable(QStringLiteral("no button face at %1,%2").arg(button.x()).arg(button.y())));
            QVERIFY2(countPixels(image, inside, isLight) > 15,
                     qPrintable(QStringLiteral("no label at %1,%2").arg(button.x()).arg(button.y())));
        }
    }

    // Task bars ask for small and large icons: each is drawn at its size, a
    // navy tile with rounded (clear) corners and the red Q on it.
    void programIconIsARedQOnNavyAtEverySize() {
        const QIcon icon = programIcon();
        QVERIFY(!icon.isNull());
        for (const int side : {16, 32, 48, 256}) {
            QVERIFY2(icon.availableSizes().contains(QSize(side, side)), qPrintable(QString::number(side)));
            const QImage image = icon.pixmap(QSize(side, side)).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(side, side));
            const QString at = QStringLiteral("at %1 pixels").arg(side);
            const QString folder = qEnvironmentVariable("QUILLORA_PICTURES_DIR");
            if (!folder.isEmpty()) image.save(QStringLiteral("%1/quillora-%2.png").arg(folder).arg(side));
            // Corners at most touched by the smoothing of the tile's edge.
            QVERIFY2(image.pixelColor(0, 0).alpha() < 64, qPrintable(at));
            QVERIFY2(image.pixelColor(side - 1, side - 1).alpha() < 64, qPrintable(at));
            const int area = side * side;
            QVERIFY2(countPixels(image, image.rect(), isReddish) > area / 10, qPrintable(at));
            const int navy = countPixels(image, image.rect(), [](QColor c) {
                return c.alpha() == 255 && c.blue() > c.red() + 30 && c.blue() > c.green() + 30 && c.red() < 60;
            });
            QVERIFY2(navy > area / 4, qPrintable(at));
        }
    }
};

QTEST_MAIN(PicturesTest)
#include "pictures_test.moc"
