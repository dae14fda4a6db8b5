#pragma once
// The main window's sidebar: the painted picture with its command areas (the
// three views, selection, statistics, info and end), the highlight and lamp of
// the shown view, and the lamp of a selection in force. It shows and tells;
// what a command does is the main window's business.

#include <QLabel>
#include <QWidget>

class ClickArea;

// The sidebar picture; a mouse button going down on it is the edit-mode switch.
class SidebarPicture : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class Sidebar : public QWidget {
    Q_OBJECT
public:
    enum class Command { Games, Disc, Tips, Selection, Statistics, Info, End };

    explicit Sidebar(QWidget* parent);

    // Lights the button of the shown view (0 games, 1 disc contents, 2 tips)
    // and moves the lamp beside it.
    void showView(int viewIndex);
    void setSelectionIndicator(bool on);
    bool selectionIndicated() const;
    // The commands that start a query; off while one runs.
    void setQueryCommandsEnabled(bool on);

signals:
    void commandClicked(Command command);
    // A mouse button went down on the picture beside the command areas.
    void pictureMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);

private:
    // By their designer names, which are also their object names.
    SidebarPicture* Image4 = nullptr;
    ClickArea* Image1 = nullptr;
    ClickArea* Image2 = nullptr;
    ClickArea* Image3 = nullptr;
    ClickArea* Image6 = nullptr;
    ClickArea* Image7 = nullptr;
    ClickArea* Image10 = nullptr;
    ClickArea* Image11 = nullptr;
    QLabel* Aktiv1 = nullptr;
    QLabel* Aktiv2 = nullptr;
    QLabel* Aktiv3 = nullptr;
    QLabel* Aktiv4 = nullptr;
    QLabel* LED1 = nullptr;
    QLabel* LED2 = nullptr;
};
