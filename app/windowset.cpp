#include "windowset.h"

#include "fonts.h"
#include "messagebox.h"
#include "qttexts.h"
#include "tform1.h"
#include "tform2.h"
#include "tform3.h"
#include "tform4.h"
#include "titlelinks.h"
#include "tkindstatistics.h"
#include "tsuchpage.h"

#include <QApplication>

WindowSet::WindowSet(const std::string& programFile, TInstanceMarker* marker, WaitWindow waitWindow) {
    installProgramFonts();
    installGermanQtTexts();
    auto* wait = new TForm4;
    if (waitWindow == WaitWindow::Shown) {
        wait->show();
        wait->repaint();
        QApplication::processEvents();
    }
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));

    form1_ = std::make_unique<TForm1>(programFile, marker, wait);
    if (form1_->Terminated) return;
    suchPage_ = std::make_unique<TSuchPage>(*form1_);
    form2_ = std::make_unique<TForm2>(*form1_);
    form3_ = std::make_unique<TForm3>(*form1_, *suchPage_);
    form5_ = std::make_unique<TForm5>(*form1_, *suchPage_);
    form6_ = std::make_unique<TForm6>(*form1_, *suchPage_);

    // The selection module refreshes the statistics in this order.
    suchPage_->addStatisticsWindow(*form3_);
    suchPage_->addStatisticsWindow(*form5_);
    suchPage_->addStatisticsWindow(*form6_);
    form1_->setWindows({suchPage_.get(), form2_.get(), form3_.get(), form5_.get(), form6_.get()});
    titleLinks_ = std::make_unique<TitleLinks>(*form1_);
}

WindowSet::~WindowSet() {
    // The secondary windows and the grid's menu refer to the main window; they go first.
    titleLinks_.reset();
    if (form1_) form1_->setWindows({});
    form6_.reset();
    form5_.reset();
    form3_.reset();
    form2_.reset();
    suchPage_.reset();
    form1_.reset();
}

bool WindowSet::terminated() const { return form1_->Terminated; }
