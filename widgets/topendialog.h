#pragma once
// The file-open dialog the text import uses. Tests answer it ahead of time
// instead of clicking through it.

#include <optional>
#include <string>

class QWidget;

class TOpenDialog {
public:
    std::string DefaultExt;  // appended to a chosen name without extension
    std::string Filter;      // "Description|*.EXT", patterns matched without regard to case
    std::string FileName;    // the chosen file, after Execute returned true

    // Lets the user choose a file; false when the dialog was cancelled.
    bool Execute(QWidget* parent);

    // Tests: the next Execute answers with this file, or cancels for an
    // empty optional, without showing anything.
    static void setNextFileName(std::optional<std::string> fileName);
};
