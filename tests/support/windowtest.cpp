#include "windowtest.h"

#include <QApplication>
#include <QHeaderView>
#include <QPointer>
#include <QTableView>
#include <QTest>
#include <QTimer>

void WindowTest::init() {
    disc = std::make_unique<DiscFixture>();
    if (start_ == Start::EachTest) start();
}

void WindowTest::cleanup() {
    windows.reset();
    disc.reset();
    standIns_.clear();
}

void WindowTest::makeWindows(const std::string& programFile, TInstanceMarker* marker) {
    // Boxes are answered from before the first window on: the start-up may show one.
    MessageBox::setAutoAnswer(true);
    MessageBox::setNextAnswer(true);
    MessageBox::clearShown();
    disc->enterDisc();
    windows = std::make_unique<WindowSet>(programFile, marker, WindowSet::WaitWindow::Hidden);
}

void WindowTest::start(const std::string& programFile) {
    makeWindows(programFile);
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
}

QTableView& WindowTest::grid() const { return *control<QTableView>("DBGrid1"); }

TDataSource& WindowTest::model() const { return *control<TDataSource>("DataSource1"); }

void WindowTest::click(const char* command) const { QTest::mouseClick(control(command), Qt::LeftButton); }

void WindowTest::toggleEditMode() const {
    QTest::mouseClick(control("Image4"), Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier, QPoint(60, 20));
}

std::vector<std::string> WindowTest::column(int index) const {
    std::vector<std::string> cells;
    for (int row = 0; row < model().rowCount(); ++row) cells.push_back(cell(row, index));
    return cells;
}

std::vector<std::string> WindowTest::titles() const {
    std::vector<std::string> result;
    for (int column = 0; column < model().columnCount(); ++column)
        result.push_back(fromQt(model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()));
    return result;
}

std::vector<int> WindowTest::widths() const {
    std::vector<int> result;
    for (int column = 0; column < model().columnCount(); ++column) result.push_back(grid().columnWidth(column));
    return result;
}

std::string WindowTest::cell(int row, int column) const {
    return fromQt(model().data(model().index(row, column), Qt::DisplayRole).toString());
}

std::vector<std::string> WindowTest::boxes() {
    std::vector<std::string> texts;
    for (const MessageBox::Record& box : MessageBox::shown()) {
        std::string text = box.kind == MessageBox::Kind::Message    ? "[Meldung] "
                           : box.kind == MessageBox::Kind::Question ? "[Frage] "
                                                                    : "";
        texts.push_back(text.append(box.text));
    }
    return texts;
}

void WindowTest::whileModal(const std::function<void()>& opening, const std::function<void(QWidget&)>& inside) {
    bool ran = false;
    bool leftOpen = false;
    // The modal window's own event loop runs the timer, whenever the window
    // comes up within `opening`.
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        const QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal || ran) return;
        ran = true;
        poll.stop();
        inside(*modal);
        // A check that failed inside left the window up: closed here, so the test ends.
        if (modal && modal->isVisible()) {
            leftOpen = true;
            modal->close();
        }
    });
    poll.start();
    opening();
    poll.stop();
    QVERIFY2(ran, "no modal window came up");
    QVERIFY2(!leftOpen, "the modal window was left open");
}

void WindowTest::reportMissing(const QObject& parent, const char* name, const char* type) {
    std::string message = "no ";
    message += type;
    message += " named '";
    message += name;
    message += "' in ";
    message += parent.objectName().toStdString();
    QTest::qFail(message.c_str(), __FILE__, __LINE__);
}
