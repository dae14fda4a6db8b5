#include "tform4.h"

#include "pictures.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen |
                          Qt::WindowDoesNotAcceptFocus) {
    // It only shows; clicks and keys go past it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Bitte warten..."));
    setFixedSize(kWidth, kHeight);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(0, 0, kWidth, kHeight);
    image->setPixmap(picture(QStringLiteral("wait")));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
}
