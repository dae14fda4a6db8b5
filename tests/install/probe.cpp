// The install test's eyes inside the installed program, which it loads with
// LD_PRELOAD: the program itself stays exactly as installed. It writes what a
// reader would see into the file named by QUILLORA_PROBE_REPORT, one line
// each, UTF-8:
//   message <text>        a message box, answered with its default button
//   window <title>        the main window, once its first showing is over
//   columns <t1>|<t2>|…   the grid's column titles
//   rows <n>              the grid's rows
//   first <title>         the first row's first cell
// and then closes the main window, which ends the program.

#include <QAbstractItemModel>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

namespace {

QString& reportPath() {
    static QString path;
    return path;
}

void report(const QString& line) {
    QFile file(reportPath());
    if (!file.open(QIODevice::Append | QIODevice::Text)) return;
    QString flat = line;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    file.write(flat.toUtf8() + '\n');
}

QWidget* window(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String(name)) return widget;
    return nullptr;
}

void answerMessageBoxes() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property("quilloraProbeAnswered").toBool()) continue;
        box->setProperty("quilloraProbeAnswered", true);
        report(QStringLiteral("message ") + box->text());
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty()) button = box->buttons().first();
        if (button) QTimer::singleShot(0, button, &QAbstractButton::click);
    }
}

// The main window is there once it is shown and its first showing has freed
// the wait window.
bool reportMainWindow() {
    QWidget* main = window("Form1");
    if (!main || !main->isVisible() || window("Form4")) return false;
    report(QStringLiteral("window ") + main->windowTitle());
    auto* grid = main->findChild<QTableView*>(QStringLiteral("DBGrid1"));
    const QAbstractItemModel* model = grid ? grid->model() : nullptr;
    if (model) {
        QStringList titles;
        for (int column = 0; column < model->columnCount(); ++column)
            titles << model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        report(QStringLiteral("columns ") + titles.join(QLatin1Char('|')));
        report(QStringLiteral("rows %1").arg(model->rowCount()));
        if (model->rowCount() > 0) report(QStringLiteral("first ") + model->index(0, 0).data().toString());
    }
    QTimer::singleShot(0, main, &QWidget::close);
    return true;
}

// Runs while the application object is still being made, before it is a
// QApplication: whether it becomes one is asked when the timer fires. The
// probe leaves the environment here, not when it is loaded, so that a program
// in between (timeout, env) passes it on; the engine installer that the
// program starts must run without it.
void startWatching() {
    if (const char* path = std::getenv("QUILLORA_PROBE_REPORT")) reportPath() = QString::fromLocal8Bit(path);
    ::unsetenv("QUILLORA_PROBE_REPORT");
    ::unsetenv("LD_PRELOAD");
    if (reportPath().isEmpty()) return;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            timer->stop();
            return;
        }
        answerMessageBoxes();
        if (reportMainWindow()) timer->stop();
    });
    timer->start(50);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startWatching)
