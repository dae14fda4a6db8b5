// The floor of the start-up measurement: the least a Qt Widgets program
// shows, one label in a window, reporting its first painted frame the same
// way the program does.

#include "firstframe.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    const int firstFrameFd = takeFirstFrameFd();
    QApplication application(argc, argv);
    QLabel label(QStringLiteral("Quillora"));
    reportFirstFrame(label, firstFrameFd);
    label.show();
    return application.exec();
}
