#include "program.h"

#include "singleinstance.h"
#include "tform1.h"
#include "windowset.h"

#include <QApplication>

int runQuillora(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::string programFile = programFileName(argc > 0 ? argv[0] : "quillora");
    // Before any window: is another copy of this program file running?
    TInstanceMarker marker(QString::fromLocal8Bit(programFile.c_str()));

    // The wait window, the application title and the windows in their order.
    const WindowSet windows(programFile, &marker);
    if (windows.terminated()) return 0;

    // Showing the main window runs its FormShow; then the message loop.
    windows.Form1().show();
    return application.exec();
}
