#include "windowset.h"

#include "fonts.h"
#include "imagecache.h"
#include "messagebox.h"
#include "qttexts.h"
#include "quietmoment.h"
#include "statisticswindowlink.h"
#include "tform1.h"
#include "tform2.h"
#include "tform3.h"
#include "tform4.h"
#include "titlelinks.h"
#include "tkindstatistics.h"
#include "tsuchpage.h"
#include "windowicon.h"

#include <QApplication>

#include <chrono>
#include <functional>

namespace {

// The selection module's link to a statistics window that may not be made
// yet: one not made is not shown, so there is nothing to refresh. The links
// keep the selection module's order whichever window is made first.
class LinkWhenMade : public StatisticsWindowLink {
public:
    explicit LinkWhenMade(std::function<TStatisticsWindow*()> made) : made_(std::move(made)) {}
    bool isStatisticsShown() const override {
        const TStatisticsWindow* window = made_();
        return window && window->isStatisticsShown();
    }
    void selectCategoryRow(int row) override {
        if (TStatisticsWindow* window = made_()) window->selectCategoryRow(row);
    }
    void recomputeAndRepaint() override {
        if (TStatisticsWindow* window = made_()) window->recomputeAndRepaint();
    }

private:
    std::function<TStatisticsWindow*()> made_;
};

}  // namespace

class WindowSet::OnDemand : public TForm1::SecondaryWindows {
public:
    OnDemand(TForm1& form1, TSuchPage& suchPage, QuietMoment& freedMemoryReturn)
        : form1_(form1), suchPage_(suchPage), freedMemoryReturn_(freedMemoryReturn) {
        // The selection module refreshes the statistics in this order.
        for (int view = 0; view < 3; ++view) {
            links_[view] = std::make_unique<LinkWhenMade>([this, view] { return statistics(view, false); });
            suchPage_.addStatisticsWindow(*links_[view]);
        }
    }
    ~OnDemand() override {
        statistics_[2].reset();
        statistics_[1].reset();
        statistics_[0].reset();
        form2_.reset();
    }

    TSuchPage& suchPage() override { return suchPage_; }
    TForm2* infoDialog(bool make) override {
        if (!form2_ && make) {
            form2_ = std::make_unique<TForm2>(form1_);
            form1_.infoDialogMade(*form2_);
        }
        return form2_.get();
    }
    TStatisticsWindow* statistics(int view, bool make) override {
        std::unique_ptr<TStatisticsWindow>& window = statistics_[view];
        if (!window && make) {
            if (view == 0) window = std::make_unique<TForm3>(form1_, suchPage_);
            if (view == 1) window = std::make_unique<TForm5>(form1_, suchPage_);
            if (view == 2) window = std::make_unique<TForm6>(form1_, suchPage_);
            QObject::connect(window.get(), &TStatisticsWindow::figuresComputed, &freedMemoryReturn_,
                             &QuietMoment::workEnded);
        }
        return window.get();
    }

private:
    TForm1& form1_;
    TSuchPage& suchPage_;
    QuietMoment& freedMemoryReturn_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<TStatisticsWindow> statistics_[3];  // games, disc contents, tips
    std::unique_ptr<LinkWhenMade> links_[3];
};

WindowSet::WindowSet(const std::string& programFile, TInstanceMarker* marker, WaitWindow waitWindow) {
    installProgramFonts();
    installGermanQtTexts();
    auto* wait = new TForm4;
    if (waitWindow == WaitWindow::Shown) {
        showWithSmallIcon(*wait);
        wait->repaint();
        QApplication::processEvents();
    }
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));

    form1_ = std::make_unique<TForm1>(programFile, marker, wait);
    if (form1_->Terminated) return;
    suchPage_ = std::make_unique<TSuchPage>(*form1_);
    // A moment after the user's last sort, search, keystroke or statistics
    // window, which all rerun the grid's query or work out figures anew: long
    // enough that typing and clicking on never wait for it.
    freedMemoryReturn_ = std::make_unique<QuietMoment>(std::chrono::milliseconds(1500), archive::returnFreedMemory);
    QObject::connect(form1_.get(), &TForm1::queryRerun, freedMemoryReturn_.get(), &QuietMoment::workEnded);
    onDemand_ = std::make_unique<OnDemand>(*form1_, *suchPage_, *freedMemoryReturn_);
    form1_->setWindows(onDemand_.get());
    titleLinks_ = std::make_unique<TitleLinks>(*form1_);
}

WindowSet::~WindowSet() {
    // The secondary windows and the grid's menu refer to the main window; they go first.
    titleLinks_.reset();
    if (form1_) form1_->setWindows(nullptr);
    onDemand_.reset();
    suchPage_.reset();
    form1_.reset();
}

bool WindowSet::terminated() const { return form1_->Terminated; }

TForm2& WindowSet::Form2() const { return *onDemand_->infoDialog(true); }
TForm3& WindowSet::Form3() const { return static_cast<TForm3&>(*onDemand_->statistics(0, true)); }
TForm5& WindowSet::Form5() const { return static_cast<TForm5&>(*onDemand_->statistics(1, true)); }
TForm6& WindowSet::Form6() const { return static_cast<TForm6&>(*onDemand_->statistics(2, true)); }
