#include "uppercasevalidator.h"

#include "cp1252.h"
#include "text.h"

QValidator::State UpperCaseValidator::validate(QString& input, int& /*position*/) const {
    // One character in, one character out: the cursor position stays valid.
    input = toQt(archive::upperCp1252(fromQt(input)));
    return Acceptable;
}
