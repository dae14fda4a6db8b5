#include "topendialog.h"

#include "text.h"

#include <QFileDialog>

namespace {

struct Answer {
    bool set = false;
    std::optional<std::string> fileName;
};
Answer nextFileAnswer;

// "*.TXT" becomes "*.[tT][xX][tT]": the file system tells letter case apart,
// the filter of the disc's world did not.
QString caseBlindPattern(const std::string& pattern) {
    QString blind;
    for (const QChar c : toQt(pattern)) {
        if (c.isLetter() && c.toLower() != c.toUpper()) {
            blind += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        } else {
            blind += c;
        }
    }
    return blind;
}

// "Textdateien|*.TXT" becomes "Textdateien (*.[tT][xX][tT])".
QString qtFilter(const std::string& filter) {
    const size_t bar = filter.find('|');
    if (bar == std::string::npos) return toQt(filter);
    QStringList patterns;
    for (const QString& pattern : toQt(filter.substr(bar + 1)).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        patterns << caseBlindPattern(fromQt(pattern.trimmed()));
    return toQt(filter.substr(0, bar)) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

}  // namespace

void TOpenDialog::setNextFileName(std::optional<std::string> fileName) { nextFileAnswer = {true, std::move(fileName)}; }

bool TOpenDialog::Execute(QWidget* parent) {
    if (nextFileAnswer.set) {
        const Answer answer = nextFileAnswer;
        nextFileAnswer = {};
        if (!answer.fileName) return false;
        FileName = *answer.fileName;
        return true;
    }
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(qtFilter(Filter));
    dialog.setDefaultSuffix(toQt(DefaultExt));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    FileName = fromQt(dialog.selectedFiles().constFirst());
    return true;
}
