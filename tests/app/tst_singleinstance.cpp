// Single instance with two real processes: a second start of the same program
// file brings the running copy to the front and ends before it reads a setting,
// copies a table or opens a window of its own.

#include "discfixture.h"
#include "windows.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void secondCopyActivatesTheFirstAndEnds();
    void namesDifferingInLetterCaseAreDifferentPrograms();
};

void SingleInstanceTest::secondCopyActivatesTheFirstAndEnds() {
    DiscFixture disc;
    disc.enterDisc();
    // A hard-disk name, so a copy that went on would copy the tables.
    const std::string name = "quillora-single-" + std::to_string(::getpid()) + "hd";
    TInstanceMarker marker(QString::fromStdString(name));
    QVERIFY(!marker.PreviousInstanceRunning());
    Windows windows(name, &marker);
    QVERIFY(!windows.form1->Terminated);
    windows.form1->show();
    windows.form1->showMinimized();
    QSignalSpy activations(&marker, &TInstanceMarker::activationRequested);

    // Without a hive, a copy that read its settings would start the installer;
    // without the first copy's tables, one that went on would copy them again.
    fs::remove(disc.configHome + "/Vortagon/registry.reg");
    QVERIFY(fs::exists(disc.dataHome + "/VORTAGON/QUILLORA/DATA/GameData.DB"));
    fs::remove_all(disc.dataHome + "/VORTAGON");
    fs::create_symlink(QUILLORA_PROGRAM, disc.disc + "/" + name);
    QProcess second;
    second.setWorkingDirectory(QString::fromStdString(disc.disc));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QString::fromStdString("./" + name), {});
    QVERIFY(second.waitForStarted(5000));
    const bool ended = second.waitForFinished(15000);
    if (!ended) second.kill();
    QVERIFY2(ended, "the second copy did not end");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(activations.count(), 1, 5000);
    QTRY_VERIFY(!windows.form1->isMinimized());
    QCOMPARE(disc.installerStarts(), 0);
    QVERIFY(!fs::exists(disc.dataHome + "/VORTAGON"));
}

void SingleInstanceTest::namesDifferingInLetterCaseAreDifferentPrograms() {
    const QString name = QStringLiteral("quillora-case-%1").arg(::getpid());
    TInstanceMarker lower(name);
    TInstanceMarker upper(name.toUpper());
    QVERIFY(!lower.PreviousInstanceRunning());
    QVERIFY(!upper.PreviousInstanceRunning());
}

QTEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
