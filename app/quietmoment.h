#pragma once
// Work the window thread does now and then (a rerun of the grid's query, a
// statistics window's figures) leaves memory free in its heap; handing it
// back takes some milliseconds at a million rows, which no keystroke or sort
// should wait for. Each such piece of work restarts the wait, and only once
// none has come for a while is the memory handed back, as an event of its
// own between the user's.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QuietMoment : public QObject {
    Q_OBJECT
public:
    QuietMoment(std::chrono::milliseconds quiet, std::function<void()> atQuietMoment, QObject* parent = nullptr);

    // A piece of work ended: the quiet moment is `quiet` from now.
    void workEnded();

    bool pending() const { return timer_.isActive(); }
    int runs() const { return runs_; }
    void setQuiet(std::chrono::milliseconds quiet) { timer_.setInterval(quiet); }

private:
    QTimer timer_;
    std::function<void()> atQuietMoment_;
    int runs_ = 0;
};
