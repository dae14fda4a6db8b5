// A stand-in for a program start in the single-instance tests: binds the
// marker of the name given and says on stdout what it found.
//   platform_instance_probe <name> <hold ms> [<program to launch>]
// The first copy prints "first", then "activated" for every request of a
// second copy, until the hold time is over; with a program it starts that
// first and prints "launched <pid>". A second copy asks the first to come to
// the front, prints "second" and ends.

#include "launcher.h"
#include "singleinstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    QCoreApplication application(argc, argv);
    TInstanceMarker marker(QString::fromLocal8Bit(argv[1]));
    TOneInstance oneInstance;
    if (oneInstance.act(marker)) {
        std::printf("second\n");
        return 0;
    }
    std::printf("first\n");
    std::fflush(stdout);
    if (argc > 3) {
        TSendKeys keys;
        if (keys.StartProgram(argv[3])) std::printf("launched %d\n", static_cast<int>(keys.ProcessId()));
        std::fflush(stdout);
    }
    QObject::connect(&marker, &TInstanceMarker::activationRequested, [] {
        std::printf("activated\n");
        std::fflush(stdout);
    });
    QTimer::singleShot(std::atoi(argv[2]), &application, &QCoreApplication::quit);
    return application.exec();
}
