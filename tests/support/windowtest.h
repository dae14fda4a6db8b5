#pragma once
// The base of every test that runs the program's windows: each test function
// starts on a fresh sample disc with its own home, settings and temporary
// folder, every box answered ahead, and the windows made through the one
// window set. Controls are found by their designer names, as the user's
// clicks find them, never through the window's members.

// What the window tests use beside the base itself.
#include "clickarea.h"
#include "discfixture.h"
#include "messagebox.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1.h"
#include "tsuchpage.h"
#include "windowset.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLineEdit;
class QTableView;

class WindowTest : public QObject {
    Q_OBJECT
public:
    // EachTest: init() starts the program and shows the main window.
    // ByTheTest: init() only lays out the disc; the test changes it first and
    // then calls start() or makeWindows() itself.
    enum class Start { EachTest, ByTheTest };
    explicit WindowTest(Start start = Start::EachTest) : start_(start) {}

protected slots:
    virtual void init();
    virtual void cleanup();

protected:
    // Makes the disc the current folder, makes the windows, shows the main
    // window and waits until it is on the screen.
    void start(const std::string& programFile = "quillora");
    // Makes the disc the current folder and the windows, showing nothing: the
    // start-up up to the main window's show.
    void makeWindows(const std::string& programFile = "quillora", TInstanceMarker* marker = nullptr);
    void closeWindows() { windows.reset(); }

    WindowSet& set() const { return *windows; }
    TForm1& form() const { return windows->Form1(); }
    TSuchPage& page() const { return windows->SuchPage(); }
    QTableView& grid() const;
    TDataSource& model() const;
    QLineEdit* quickField() const { return control<QLineEdit>("Edit1"); }
    const archive::Query& query() const { return form().statisticsQuery(); }
    // The table the edit mode works on.
    archive::Table& editTable() const { return form().exchangeTable(); }

    // A control of the main window by its designer name.
    template <class T = QWidget>
    T* control(const char* name) const {
        return child<T>(form(), name);
    }
    // A child of `parent` by its object name. A missing one fails the test,
    // naming what was looked for; the test then runs to its end on a
    // stand-in, and the next test runs as usual.
    template <class T = QWidget>
    T* child(const QObject& parent, const char* name) const {
        if (T* found = parent.findChild<T*>(QString::fromLatin1(name))) return found;
        reportMissing(parent, name, T::staticMetaObject.className());
        auto* standIn = new T;
        standIns_.emplace_back(standIn);
        return standIn;
    }

    // A left click on a command of the sidebar.
    void click(const char* command) const;
    // The edit-mode gesture: Ctrl+Alt and a click on the free sidebar picture.
    void toggleEditMode() const;

    // The texts of one grid column top to bottom, the column titles, their widths.
    std::vector<std::string> column(int index) const;
    std::vector<std::string> titles() const;
    std::vector<int> widths() const;
    std::string cell(int row, int column) const;

    // The boxes shown since the windows were made or the record was cleared,
    // each by its text; a box other than an error box is marked "[Meldung] "
    // or "[Frage] " before its text.
    static std::vector<std::string> boxes();
    using Texts = std::vector<std::string>;

    // Runs `inside` while the modal window `opening` brings up is shown;
    // `inside` closes it. Fails when no modal window came up or `inside` left
    // it open.
    void whileModal(const std::function<void()>& opening, const std::function<void(QWidget&)>& inside);

    std::unique_ptr<DiscFixture> disc;

private:
    static void reportMissing(const QObject& parent, const char* name, const char* type);

    Start start_;
    std::unique_ptr<WindowSet> windows;
    mutable std::vector<std::unique_ptr<QObject>> standIns_;
};
