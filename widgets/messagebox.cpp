#include "messagebox.h"

#include "text.h"

#include <optional>

namespace {
bool autoAnswer = false;
std::optional<bool> nextMessageAnswer;
std::vector<MessageBox::Record> records;

QMessageBox::StandardButton run(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
                                QMessageBox::StandardButtons buttons) {
    // A CR alone starts a new line in the program's texts, as CR LF does.
    QString shown = toQt(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon, QString::fromLatin1(kApplicationTitle), shown, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
}  // namespace

std::string MessageBox::errorText(const std::string& text) {
    std::string shown = text;
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) > static_cast<unsigned char>('.')) shown += '.';
    return shown;
}

void MessageBox::showError(QWidget* parent, const std::string& text) {
    const std::string shown = errorText(text);
    records.push_back({Kind::Error, shown});
    if (!autoAnswer) run(parent, QMessageBox::Critical, shown, QMessageBox::Ok);
}

void MessageBox::showMessage(QWidget* parent, const std::string& text) {
    records.push_back({Kind::Message, text});
    if (!autoAnswer) run(parent, QMessageBox::NoIcon, text, QMessageBox::Ok);
}

bool MessageBox::askOkCancel(QWidget* parent, const std::string& text) {
    records.push_back({Kind::Question, text});
    if (autoAnswer) {
        const bool answer = nextMessageAnswer.value_or(true);
        nextMessageAnswer.reset();
        return answer;
    }
    return run(parent, QMessageBox::Question, text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void MessageBox::setAutoAnswer(bool on) { autoAnswer = on; }
void MessageBox::setNextAnswer(bool ok) { nextMessageAnswer = ok; }
const std::vector<MessageBox::Record>& MessageBox::shown() { return records; }
void MessageBox::clearShown() { records.clear(); }
