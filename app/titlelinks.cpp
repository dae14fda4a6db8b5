#include "titlelinks.h"

#include "cp1252.h"
#include "messagebox.h"
#include "sorting.h"
#include "tdatasource.h"
#include "text.h"
#include "tform1.h"
#include "titlematch.h"
#include "usertexts.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>

#include <stdexcept>

namespace {

// A title longer than this is cut in the menu: the menu must stay on the screen.
constexpr size_t kShownTitleLength = 100;

template <class T>
T& childOf(QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (!child) throw std::logic_error(std::string("The main window has no ") + name + ".");
    return *child;
}

}  // namespace

TitleLinks::TitleLinks(TForm1& form)
    : form_(form),
      grid_(&childOf<QTableView>(form, "DBGrid1")),
      quickField_(&childOf<QLineEdit>(form, "Edit1")),
      dataSource_(&childOf<TDataSource>(form, "DataSource1")),
      menu_(new QMenu(grid_)) {
    menu_->setObjectName(QStringLiteral("TitleLinks"));
    grid_->installEventFilter(this);
    grid_->viewport()->installEventFilter(this);
}

bool TitleLinks::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu && event->type() != QEvent::KeyPress) return false;
    if (form_.EditMode || (watched != grid_ && watched != grid_->viewport())) return false;
    bool opened = false;
    if (event->type() == QEvent::ContextMenu) {
        const auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() == QContextMenuEvent::Mouse) {
            // On a row: that row; elsewhere (the frame, below the last row) nothing.
            const int row = watched == grid_->viewport() ? grid_->rowAt(request->pos().y()) : -1;
            if (row >= 0) guarded(&form_, [&] { opened = open(row, request->globalPos()); });
        } else {
            guarded(&form_, [&] { opened = openAtCurrentRow(); });
        }
        // A keyboard request right after the key that opened the menu finds it open.
        return opened || menu_->isVisible();
    }
    if (event->type() == QEvent::KeyPress && watched == grid_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const bool menuKey = key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier;
        const bool shiftF10 = key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier;
        if (!menuKey && !shiftF10) return false;
        guarded(&form_, [&] { opened = openAtCurrentRow(); });
        return true;
    }
    return false;
}

bool TitleLinks::openAtCurrentRow() {
    const QModelIndex current = grid_->currentIndex();
    if (!current.isValid()) return false;
    const QRect cell = grid_->visualRect(current);
    return open(current.row(), grid_->viewport()->mapToGlobal(cell.isValid() ? cell.center() : QPoint()));
}

bool TitleLinks::open(int row, QPoint globalPosition) {
    if (menu_->isVisible()) return true;
    const archive::ViewDef* view = archive::findView(form_.CurrentView);
    archive::DataSet* shown = dataSource_->dataSet();
    if (!view || !shown || !shown->active() || row >= shown->recordCount()) return false;
    const int field = shown->fieldIndex(archive::kTitleField);
    if (field < 0 || shown->isNull(row, field)) return false;
    std::string title(shown->text(row, field));
    if (!archive::leadsToRows(title)) return false;

    const archive::LinkCounts counts = archive::linkCounts(form_.DataPath, *view, title);
    // No game: the entry's own title, and nothing to show.
    if (counts.game) title = *counts.game;
    menu_->clear();
    const archive::ViewDef& games = archive::gamesView();
    const archive::ViewDef& disc = archive::discView();
    const archive::ViewDef& tips = archive::tipsView();
    if (view != &games) addLink(usertexts::kGameLink, games, title, counts.games);
    if (view != &disc) addLink(usertexts::kDiscLink, disc, title, counts.disc);
    if (view != &tips) addLink(usertexts::kTipsLink, tips, title, counts.tips);
    menu_->popup(globalPosition);
    return true;
}

void TitleLinks::addLink(const char* text, const archive::ViewDef& view, const std::string& title, size_t count) {
    std::string label = text;
    label += archive::readableValue(title, kShownTitleLength);
    label += usertexts::kLinkCount;
    label += std::to_string(count);
    label += ')';
    // An ampersand in a title is shown, not taken as the entry's key.
    QAction* action = menu_->addAction(toQt(label).replace(QLatin1Char('&'), QStringLiteral("&&")));
    action->setEnabled(count > 0);
    const archive::ViewDef* target = &view;
    connect(action, &QAction::triggered, this, [this, target, title] {
        guarded(&form_, [&] { follow(*target, title); });
    });
}

void TitleLinks::follow(const archive::ViewDef& view, const std::string& title) {
    menu_->hide();
    if (&view == &archive::gamesView())
        form_.Image1Click();
    else if (&view == &archive::discView())
        form_.Image2Click();
    else
        form_.Image3Click();
    // As typing the title would put it there; the field's change reruns the
    // query, whose first row is the first match.
    quickField_->setText(toQt(archive::quickTitleText(title)));
}
