#pragma once
// The info dialog: product, version, mode, the newest issue of each table and
// the credits; in the edit mode also the tab-separated export of the current
// table and the import into the disc contents.

#include <QDialog>

#include <string>

class InfoHost;
class QLabel;
class QPushButton;
class TFormFill;

// What the dialog offers and says of the program's mode.
struct InfoMode {
    bool editMode = false;       // the export is offered
    bool importOffered = false;  // the import too (the disc contents in the edit mode)
    bool hardDisk = false;       // the caption says the hard-disk mode
};

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(InfoHost& host, QWidget* parent = nullptr);

    // The main window tells the dialog its mode through this one call.
    void setMode(const InfoMode& mode);

    static constexpr int kClientWidth = 441;
    static constexpr int kClientHeight = 224;

private:
    TFormFill* FormFill1 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button1 = nullptr;

public:
    void FormShow();
    void Button1Click();
    // Writes the whole current table to DataPath/CurrentTableFile.txt.
    void Button2Click();
    // Appends the lines of a chosen text file to the current table.
    void Button3Click();

    // The record counter of the last import.
    int importedRecords() const { return importedRecords_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* makeLabel(const char* name, QRect box, const std::string& text, const QColor& colour, int pixels,
                      bool centred);
    QPushButton* makeButton(const char* name, QRect box, const std::string& text);

    InfoHost& host_;
    int importedRecords_ = 0;
};
