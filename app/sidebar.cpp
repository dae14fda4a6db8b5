#include "sidebar.h"

#include "clickarea.h"
#include "pictures.h"
#include "text.h"
#include "tform1layout.h"

#include <QMouseEvent>

using namespace tform1layout;

namespace {

constexpr char kSelectionHint[] = "W\xE4hlt Spiele nach bestimmten Kriterien aus";

}  // namespace

void SidebarPicture::mousePressEvent(QMouseEvent* event) {
    emit mouseDown(event->button(), event->modifiers(), event->position().toPoint());
    QLabel::mousePressEvent(event);
}

Sidebar::Sidebar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Sidebar"));
    setGeometry(0, 0, 130, 453);

    Image4 = new SidebarPicture(this);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setGeometry(0, 0, 130, 453);
    Image4->setPixmap(picture(QStringLiteral("sidebar")));
    connect(Image4, &SidebarPicture::mouseDown, this, &Sidebar::pictureMouseDown);

    auto makePicture = [this](const char* name, const char* pictureName, QRect box) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(box);
        label->setPixmap(picture(QString::fromLatin1(pictureName)));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->hide();
        return label;
    };
    auto highlightOf = [&](const ViewButton& button) {
        QRect box = button.areaBox;
        box.setWidth(button.highlightWidth);
        return makePicture(button.highlight, button.picture, box);
    };
    Aktiv1 = highlightOf(kViewButtons[0]);
    Aktiv2 = highlightOf(kViewButtons[1]);
    Aktiv3 = highlightOf(kViewButtons[2]);
    Aktiv4 = makePicture("Aktiv4", "aktiv4", {12, 234, 91, 24});
    Aktiv4->setToolTip(toQt(kSelectionHint));
    LED1 = makePicture("LED1", "led", {kLampLeft, kViewButtons[0].areaBox.top() + kLampOffset, 14, 13});
    LED1->show();
    LED2 = makePicture("LED2", "led", {kLampLeft, 246, 14, 13});

    auto makeCommand = [this](const char* name, QRect box, Command command) {
        auto* area = new ClickArea(this);
        area->setObjectName(QString::fromLatin1(name));
        area->setGeometry(box);
        // The grid keeps the keyboard focus; the commands are for the mouse.
        area->setFocusPolicy(Qt::NoFocus);
        connect(area, &ClickArea::clicked, this, [this, command] { emit commandClicked(command); });
        return area;
    };
    Image1 = makeCommand(kViewButtons[0].area, kViewButtons[0].areaBox, Command::Games);
    Image2 = makeCommand(kViewButtons[1].area, kViewButtons[1].areaBox, Command::Disc);
    Image3 = makeCommand(kViewButtons[2].area, kViewButtons[2].areaBox, Command::Tips);
    Image6 = makeCommand("Image6", {12, 234, 90, 24}, Command::Selection);
    Image6->setToolTip(toQt(kSelectionHint));
    Image7 = makeCommand("Image7", {12, 327, 90, 24}, Command::Statistics);
    Image10 = makeCommand("Image10", {11, 401, 50, 25}, Command::Info);
    Image11 = makeCommand("Image11", {69, 401, 50, 25}, Command::End);
}

void Sidebar::showView(int viewIndex) {
    LED1->move(kLampLeft, kViewButtons[viewIndex].areaBox.top() + kLampOffset);
    QLabel* const highlighted[] = {Aktiv1, Aktiv2, Aktiv3};
    for (int i = 0; i < 3; ++i) highlighted[i]->setVisible(i == viewIndex);
}

void Sidebar::setSelectionIndicator(bool on) {
    LED2->setVisible(on);
    Aktiv4->setVisible(on);
}

bool Sidebar::selectionIndicated() const { return !LED2->isHidden(); }

void Sidebar::setQueryCommandsEnabled(bool on) {
    for (ClickArea* command : {Image1, Image2, Image3, Image6, Image7}) command->setEnabled(on);
}
