#pragma once
// Only one copy of the program runs at a time. The marker is a local socket
// in the abstract namespace, named after the program file: the copy that binds
// the name is the first, a copy that finds it taken is a second one. The name
// vanishes with the process, so a crashed copy leaves nothing stale behind.
//
// `TInstanceMarker` is made in main, after the application object and before
// any window, and lives as long as the process. `TOneInstance` (`OneInstance1`
// on the main window) acts on its finding while the main window is built.

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QLocalServer;

// The last component of argv[0], letter case kept; empty for no argv[0].
std::string programFileName(const char* argv0);

class TInstanceMarker : public QObject {
    Q_OBJECT
public:
    // An empty name, or any failure but a taken name, makes this the first copy.
    explicit TInstanceMarker(const QString& programFileName);
    ~TInstanceMarker() override;

    bool PreviousInstanceRunning() const { return previousInstanceRunning_; }
    const QString& name() const { return name_; }

    // Asks the copy that holds the name to come to the front. Waits a moment
    // at most; false when that copy could not be reached.
    bool ActivatePreviousInstance() const;

signals:
    void activationRequested();  // a second copy asked us to come to the front

private:
    void acceptRequests();

    QString name_;
    QLocalServer* server_ = nullptr;  // only in the first copy
    bool previousInstanceRunning_ = false;
};

enum TOneInstanceMode { oiActivateOnly, oiDefaultMessage, oiCustom };

class TOneInstance {
public:
    bool Enabled = true;
    // The program keeps oiActivateOnly. oiDefaultMessage has no message in
    // this program and activates like it; oiCustom calls OnCustom instead.
    TOneInstanceMode Mode = oiActivateOnly;
    std::function<void()> OnCustom;

    // Called by the main window after its layout is built and before
    // FormCreate. True when this copy must end: another copy runs, and it has
    // been asked to come to the front.
    bool act(const TInstanceMarker& marker);
};
