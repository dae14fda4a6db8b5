#include "program.h"

#include "messagebox.h"
#include "singleinstance.h"
#include "tform1.h"
#include "tform4.h"
#include "tsuchpage.h"

#include <QApplication>

int runQuillora(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::string programFile = programFileName(argc > 0 ? argv[0] : "quillora");
    // Before any window: is another copy of this program file running?
    TInstanceMarker marker(QString::fromLocal8Bit(programFile.c_str()));

    // 1. The wait window, painted at once.
    auto* waitWindow = new TForm4;
    waitWindow->show();
    waitWindow->repaint();
    QApplication::processEvents();

    // 2. The application title.
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));

    // 3. The windows, the main window first.
    TForm1 form1(programFile, &marker, waitWindow);
    if (form1.Terminated) {
        delete waitWindow;
        return 0;
    }
    TSuchPage suchPage(form1);
    form1.SuchPage = &suchPage;

    // 4. Showing the main window runs its FormShow; then the message loop.
    form1.show();
    return application.exec();
}
