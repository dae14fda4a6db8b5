#pragma once
// Every window of the program, wired in one place: the program entry, the
// window tests and the benchmarks all start the program through it. The
// main window and the selection module, which its first frame needs, are
// made at once; the info dialog and the statistics windows when they are
// first asked for, by a command or through the accessors below.

#include <memory>
#include <string>

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TInstanceMarker;
class TSuchPage;
class TitleLinks;
class QuietMoment;

class WindowSet {
public:
    enum class WaitWindow { Shown, Hidden };

    // Qt's own dialogs and buttons speak German from here on (qttexts.h).
    // The wait window first (shown and painted at once, or made hidden for
    // tests), then the main window, whose creation handler runs now, then the
    // selection module. When the main window's start-up ends early (another
    // copy runs, the engine is being installed) nothing else is made.
    explicit WindowSet(const std::string& programFile, TInstanceMarker* marker = nullptr,
                       WaitWindow waitWindow = WaitWindow::Shown);
    ~WindowSet();
    WindowSet(const WindowSet&) = delete;
    WindowSet& operator=(const WindowSet&) = delete;

    bool terminated() const;

    TForm1& Form1() const { return *form1_; }
    TSuchPage& SuchPage() const { return *suchPage_; }
    // Made on first call.
    TForm2& Form2() const;
    TForm3& Form3() const;
    TForm5& Form5() const;
    TForm6& Form6() const;

    // When the memory the grid's reruns and the statistics left free goes back.
    QuietMoment& freedMemoryReturn() const { return *freedMemoryReturn_; }

private:
    class OnDemand;
    std::unique_ptr<QuietMoment> freedMemoryReturn_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TSuchPage> suchPage_;
    std::unique_ptr<OnDemand> onDemand_;      // the windows made when first asked for
    std::unique_ptr<TitleLinks> titleLinks_;  // the grid's menu of links between the tables
};
