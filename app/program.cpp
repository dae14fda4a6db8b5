#include "program.h"

#include "engine.h"
#include "firstframe.h"
#include "pictures.h"
#include "querytext.h"
#include "singleinstance.h"
#include "startuprules.h"
#include "tables.h"
#include "tform1.h"
#include "windowicon.h"
#include "windowset.h"

#include <QApplication>

#include <malloc.h>

#include <optional>

void returnLargeBlocksWhenFreed() {
    // A fixed threshold: the allocator's own one rises to the largest block
    // freed so far, after which blocks of that size come from the heap and
    // leave holes in it that the system never gets back.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

namespace {

// Where the start-up will read the tables in disc mode; nothing in
// hard-disk mode, which reads fresh copies that do not exist yet.
std::optional<std::string> dataPathReadAhead(const std::string& programFile) {
    if (startup::isHardDiskProgramName(programFile)) return std::nullopt;
    return startup::sourcePathFor(startup::currentFolder());
}

}  // namespace

void readGamesAhead(const std::string& programFile) {
    try {
        if (const std::optional<std::string> dataPath = dataPathReadAhead(programFile))
            // With the order the window opens it in: the sort is done before
            // the main thread asks for it, on a core it leaves free meanwhile.
            archive::prefetchQuery(*dataPath, archive::openingQueryText(*dataPath, archive::gamesView()).lines,
                                   archive::LoadPriority::Soon, {});
    } catch (const std::exception&) {
        // The start-up opens the table itself and tells what is wrong with it.
    }
}

void readNewestIssuesAhead(const std::string& programFile) {
    try {
        if (const std::optional<std::string> dataPath = dataPathReadAhead(programFile)) {
            const archive::ViewDef* const looked[] = {&archive::tipsView(), &archive::discView()};
            archive::readNewestIssuesAhead(*dataPath, looked);
        }
    } catch (const std::exception&) {
        // The start-up looks them up itself and tells what is wrong.
    }
}

int runQuillora(int argc, char** argv) {
    returnLargeBlocksWhenFreed();
    const int firstFrameFd = takeFirstFrameFd();
    const std::string programFile = programFileName(argc > 0 ? argv[0] : "quillora");
    readGamesAhead(programFile);
    QApplication application(argc, argv);
    // Only now: beside the window system's start it would take the core
    // that start needs, while the games are read on the other.
    readNewestIssuesAhead(programFile);
    identifyToDesktop(programFile);
    // Before any window: is another copy of this program file running?
    TInstanceMarker marker(QString::fromLocal8Bit(programFile.c_str()));

    // The wait window, the application title and the windows in their order.
    const WindowSet windows(programFile, &marker);
    if (windows.terminated()) return 0;

    // Showing the main window runs its FormShow; then the message loop.
    reportFirstFrame(windows.Form1(), firstFrameFd);
    showHandingIconOnce(windows.Form1());
    return application.exec();
}

void identifyToDesktop(const std::string& programFile) {
    // On X11 the window class is the program file's name, which the entries
    // give as StartupWMClass; Wayland compositors go by this desktop name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(
        startup::isHardDiskProgramName(programFile) ? QUILLORA_HD_DESKTOP_ID : QUILLORA_DESKTOP_ID));
    QApplication::setWindowIcon(programIcon());
}
