#pragma once
// Turns letters into capitals while the user types, letter for letter as the
// engine's UPPER does (ß stays one letter), so a title box shows what it finds.

#include <QValidator>

class UpperCaseValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
};
