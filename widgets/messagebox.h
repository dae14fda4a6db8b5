#pragma once
// Every box the program shows goes through here: the error box for failures,
// plain messages, and the one question of the edit mode. Tests answer boxes
// ahead of time instead of clicking them.

#include <QMessageBox>

#include <exception>
#include <string>
#include <vector>

class QWidget;

inline constexpr char kApplicationTitle[] = "Quillora";

class MessageBox {
public:
    enum class Kind { Error, Message, Question };
    struct Record {
        Kind kind;
        std::string text;  // Windows-1252, as shown
    };

    // Stop icon, OK, the application title, and a full stop appended when the
    // text's last character comes after the full stop in the code table.
    static void showError(QWidget* parent, const std::string& text);
    // A plain message with OK.
    static void showMessage(QWidget* parent, const std::string& text);
    // OK / Cancel; true for OK.
    static bool askOkCancel(QWidget* parent, const std::string& text);

    static std::string errorText(const std::string& text);  // with the full-stop rule

    // Tests: no box is shown while answering automatically; a question gets the
    // next answer set (OK when none is set). Every box is recorded.
    static void setAutoAnswer(bool on);
    static void setNextAnswer(bool ok);
    static const std::vector<Record>& shown();
    static void clearShown();
};

// Runs an event handler: a failure ends it and is shown in the error box, and
// the program goes on with the next event. Exceptions never cross Qt's frames.
template <class Body>
void guarded(QWidget* parent, Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        MessageBox::showError(parent, error.what());
    }
}
