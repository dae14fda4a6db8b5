#include "singleinstance.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>

#include <csignal>
#include <memory>

namespace {

// Names of this run only, so that parallel runs do not meet.
QString uniqueName(const char* tag) {
    return QStringLiteral("quillora-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(tag));
}

template <typename Condition>
bool processEventsUntil(Condition condition, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Probe {
    explicit Probe(const QString& name, int holdMs, const QString& launch = QString()) {
        QStringList arguments{name, QString::number(holdMs)};
        if (!launch.isEmpty()) arguments << launch;
        process->start(QStringLiteral(QUILLORA_INSTANCE_PROBE), arguments);
    }
    // The next line the probe prints, or "" when none comes in time.
    QString nextLine(int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!process->canReadLine()) {
            const int left = timeoutMs - static_cast<int>(timer.elapsed());
            if (left <= 0 || (!process->waitForReadyRead(left) && process->state() == QProcess::NotRunning &&
                              !process->canReadLine()))
                return QString();
        }
        return QString::fromUtf8(process->readLine()).trimmed();
    }
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
};

}  // namespace

TEST(SingleInstance, ProgramFileNameIsTheLastComponent) {
    EXPECT_EQ(programFileName("/opt/quillora/quillorahd"), "quillorahd");
    EXPECT_EQ(programFileName("./Quillora"), "Quillora");
    EXPECT_EQ(programFileName("quillora"), "quillora");
    EXPECT_EQ(programFileName(nullptr), "");
}

TEST(SingleInstance, TheSecondMarkerAsksTheFirstToComeForward) {
    const QString name = uniqueName("pair");
    auto first = std::make_unique<TInstanceMarker>(name);
    EXPECT_FALSE(first->PreviousInstanceRunning());
    int activations = 0;
    QObject::connect(first.get(), &TInstanceMarker::activationRequested, [&] { ++activations; });

    TInstanceMarker second(name);
    EXPECT_TRUE(second.PreviousInstanceRunning());
    TOneInstance oneInstance;
    EXPECT_FALSE(oneInstance.act(*first));
    EXPECT_TRUE(oneInstance.act(second));
    EXPECT_TRUE(processEventsUntil([&] { return activations == 1; }));

    oneInstance.Mode = oiCustom;
    int customCalls = 0;
    oneInstance.OnCustom = [&] { ++customCalls; };
    EXPECT_TRUE(oneInstance.act(second));
    EXPECT_EQ(customCalls, 1);

    oneInstance.Enabled = false;
    EXPECT_FALSE(oneInstance.act(second));
    processEventsUntil([] { return false; }, 200);
    EXPECT_EQ(activations, 1);

    first.reset();
    TInstanceMarker afterwards(name);
    EXPECT_FALSE(afterwards.PreviousInstanceRunning());
}

TEST(SingleInstance, NamesMatchExactly) {
    const QString name = uniqueName("case");
    TInstanceMarker lower(name);
    TInstanceMarker upper(name.toUpper());
    TInstanceMarker longer(name + QLatin1String("hd"));
    EXPECT_FALSE(lower.PreviousInstanceRunning());
    EXPECT_FALSE(upper.PreviousInstanceRunning());
    EXPECT_FALSE(longer.PreviousInstanceRunning());

    TInstanceMarker nameless{QString()};
    EXPECT_FALSE(nameless.PreviousInstanceRunning());
    EXPECT_FALSE(TOneInstance().act(nameless));
}

TEST(SingleInstance, OnlyTheRequestActivates) {
    const QString name = uniqueName("stranger");
    TInstanceMarker marker(name);
    int activations = 0;
    QObject::connect(&marker, &TInstanceMarker::activationRequested, [&] { ++activations; });
    QLocalSocket stranger;
    stranger.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    stranger.connectToServer(name);
    ASSERT_TRUE(stranger.waitForConnected(1000));
    stranger.write("hello there, anyone?\n");
    stranger.waitForBytesWritten(1000);
    processEventsUntil([] { return false; }, 300);
    EXPECT_EQ(activations, 0);
}

TEST(SingleInstance, ASecondProgramStartActivatesTheFirstAndEnds) {
    const QString name = uniqueName("programs");
    Probe first(name, 20000);
    ASSERT_EQ(first.nextLine(), QStringLiteral("first"));

    Probe second(name, 20000);
    EXPECT_EQ(second.nextLine(), QStringLiteral("second"));
    EXPECT_TRUE(second.process->waitForFinished(3000));
    EXPECT_EQ(second.process->exitCode(), 0);
    EXPECT_EQ(first.nextLine(), QStringLiteral("activated"));

    Probe otherName(name.toUpper(), 100);
    EXPECT_EQ(otherName.nextLine(), QStringLiteral("first"));
    otherName.process->waitForFinished(3000);

    // A crashed copy leaves nothing behind.
    ::kill(static_cast<pid_t>(first.process->processId()), SIGKILL);
    ASSERT_TRUE(first.process->waitForFinished(3000));
    Probe next(name, 100);
    EXPECT_EQ(next.nextLine(), QStringLiteral("first"));
    next.process->waitForFinished(3000);
}

TEST(SingleInstance, OfCopiesStartedTogetherOneIsFirst) {
    const QString name = uniqueName("together");
    std::vector<Probe> probes;
    for (int i = 0; i < 4; ++i) probes.emplace_back(name, 1500);
    int firsts = 0, seconds = 0;
    for (auto& probe : probes) {
        const QString line = probe.nextLine();
        firsts += line == QLatin1String("first");
        seconds += line == QLatin1String("second");
    }
    EXPECT_EQ(firsts, 1);
    EXPECT_EQ(seconds, 3);
    for (auto& probe : probes) probe.process->waitForFinished(5000);
}

TEST(SingleInstance, AProgramItStartedDoesNotKeepTheName) {
    TempFolder folder;
    const auto sleeper = folder / "sleeper";
    writeScript(sleeper, "exec sleep 20\n");
    const QString name = uniqueName("launch");
    Probe probe(name, 200, QString::fromStdString(sleeper.string()));
    ASSERT_EQ(probe.nextLine(), QStringLiteral("first"));
    const QString launched = probe.nextLine();
    ASSERT_TRUE(launched.startsWith(QLatin1String("launched "))) << launched.toStdString();
    const pid_t sleeperPid = launched.mid(9).toInt();
    ASSERT_TRUE(probe.process->waitForFinished(5000));

    EXPECT_EQ(::kill(sleeperPid, 0), 0);  // still running
    TInstanceMarker afterwards(name);
    EXPECT_FALSE(afterwards.PreviousInstanceRunning());
    ::kill(sleeperPid, SIGKILL);
}

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
