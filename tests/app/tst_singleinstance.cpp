// Single instance with two real processes: a second start of the same program
// file brings the running copy to the front and ends before it reads a setting,
// copies a table or opens a window of its own.

#include "windowtest.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;

class SingleInstanceTest : public WindowTest {
    Q_OBJECT
public:
    SingleInstanceTest() : WindowTest(Start::ByTheTest) {}

private slots:
    void secondCopyActivatesTheFirstAndEnds();
    void namesDifferingInLetterCaseAreDifferentPrograms();
    void copiesStartedTogetherLeaveOneRunning();
};

void SingleInstanceTest::secondCopyActivatesTheFirstAndEnds() {
    // A hard-disk name, so a copy that went on would copy the tables.
    const std::string name = "quillora-single-" + std::to_string(::getpid()) + "hd";
    TInstanceMarker marker(QString::fromStdString(name));
    QVERIFY(!marker.PreviousInstanceRunning());
    makeWindows(name, &marker);
    QVERIFY(!form().Terminated);
    form().show();
    form().showMinimized();
    QSignalSpy activations(&marker, &TInstanceMarker::activationRequested);

    // Without a hive, a copy that read its settings would start the installer;
    // without the first copy's tables, one that went on would copy them again.
    fs::remove(disc->configHome + "/Vortagon/registry.reg");
    QVERIFY(fs::exists(disc->dataHome + "/VORTAGON/QUILLORA/DATA/GameData.DB"));
    fs::remove_all(disc->dataHome + "/VORTAGON");
    fs::create_symlink(QUILLORA_PROGRAM, disc->disc + "/" + name);
    QProcess second;
    second.setWorkingDirectory(QString::fromStdString(disc->disc));
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
    QTRY_VERIFY(!form().isMinimized());
    QCOMPARE(disc->installerStarts(), 0);
    QVERIFY(!fs::exists(disc->dataHome + "/VORTAGON"));
}

void SingleInstanceTest::namesDifferingInLetterCaseAreDifferentPrograms() {
    const QString name = QStringLiteral("quillora-case-%1").arg(::getpid());
    TInstanceMarker lower(name);
    TInstanceMarker upper(name.toUpper());
    QVERIFY(!lower.PreviousInstanceRunning());
    QVERIFY(!upper.PreviousInstanceRunning());
}

// Two copies of the real program started at the same moment, several times:
// one ends at once, the other keeps running with its main window built (its
// creation handler has copied the tables and made the temporary folder its
// current folder) and holds the program's name.
void SingleInstanceTest::copiesStartedTogetherLeaveOneRunning() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const fs::path tempFolder = fs::canonical(disc->tempFolder);
    const std::string copiedTable = disc->dataHome + "/VORTAGON/QUILLORA/DATA/GameData.DB";
    for (int round = 0; round < 5; ++round) {
        // A fresh hard-disk name each round, so no round meets the last one's copy.
        const std::string name =
            "quillora-together-" + std::to_string(::getpid()) + "-" + std::to_string(round) + "hd";
        fs::remove_all(disc->dataHome + "/VORTAGON");
        fs::create_symlink(QUILLORA_PROGRAM, disc->disc + "/" + name);
        std::unique_ptr<QProcess> copies[2];
        for (auto& copy : copies) {
            copy = std::make_unique<QProcess>();
            copy->setWorkingDirectory(QString::fromStdString(disc->disc));
            copy->setProcessEnvironment(environment);
            copy->setProgram(QString::fromStdString("./" + name));
        }
        for (auto& copy : copies) copy->start();
        for (auto& copy : copies) QVERIFY(copy->waitForStarted(5000));

        auto ended = [&](int i) { return copies[i]->state() == QProcess::NotRunning; };
        QTRY_VERIFY_WITH_TIMEOUT(ended(0) || ended(1), 20000);
        const int survivor = ended(0) ? 1 : 0;
        QProcess& second = *copies[1 - survivor];
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        const fs::path cwd = "/proc/" + std::to_string(copies[survivor]->processId()) + "/cwd";
        auto currentFolder = [&] {
            std::error_code error;
            return fs::read_symlink(cwd, error);
        };
        QTRY_VERIFY_WITH_TIMEOUT(ended(survivor) || currentFolder() == tempFolder, 20000);
        QTest::qWait(500);
        QVERIFY2(!ended(survivor), ("both copies ended in round " + std::to_string(round)).c_str());
        QVERIFY(fs::exists(copiedTable));
        TInstanceMarker later(QString::fromStdString(name));
        QVERIFY(later.PreviousInstanceRunning());
        QCOMPARE(disc->installerStarts(), 0);
        copies[survivor]->terminate();
        QVERIFY(copies[survivor]->waitForFinished(5000));
    }
}

QTEST_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
