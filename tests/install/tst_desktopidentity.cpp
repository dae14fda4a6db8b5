// The running program names the menu entry it was started from: for each
// built entry, the program under the entry's name says that entry's desktop
// name, and the entry's window class is that name; every window gets the
// program's icon.

#include "program.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QWidget>

namespace {

QString field(const QString& path, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(key + QLatin1Char('='))) return line.mid(key.size() + 1);
    }
    return {};
}

}  // namespace

class DesktopIdentityTest : public QObject {
    Q_OBJECT
private slots:
    void eachEntrysProgramNamesThatEntry() {
        const QDir folder(QStringLiteral(QUILLORA_DESKTOP_ENTRIES));
        const QStringList entries = folder.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
        QCOMPARE(entries.size(), 2);
        for (const QString& entry : entries) {
            const QString path = folder.filePath(entry);
            const QString program = field(path, QStringLiteral("Exec")).section(QLatin1Char('/'), -1);
            QVERIFY2(!program.isEmpty(), qPrintable(entry));
            identifyToDesktop(program.toStdString());
            QCOMPARE(QGuiApplication::desktopFileName() + QStringLiteral(".desktop"), entry);
            QCOMPARE(field(path, QStringLiteral("StartupWMClass")), program);
        }
    }

    // The program file may be renamed; the name's ending still picks the entry.
    void renamedProgramsFollowTheirMode() {
        identifyToDesktop("QUILLORAHD.EXE");
        const QString hardDisk = QGuiApplication::desktopFileName();
        identifyToDesktop("meinquillora");
        const QString disc = QGuiApplication::desktopFileName();
        QVERIFY(hardDisk != disc);
        identifyToDesktop("archivhd");
        QCOMPARE(QGuiApplication::desktopFileName(), hardDisk);
        identifyToDesktop("hdx");
        QCOMPARE(QGuiApplication::desktopFileName(), disc);
    }

    void everyWindowHasTheProgramsIcon() {
        QApplication::setWindowIcon(QIcon());
        identifyToDesktop("quillora");
        QWidget window;
        const QList<QSize> sizes = window.windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(256, 256)));
    }
};

QTEST_MAIN(DesktopIdentityTest)
#include "tst_desktopidentity.moc"
