#include "tfxlabel.h"

#include "text.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Bitmap fonts cannot be turned; what the font resolves to on this system
// decides, not the name asked for.
bool isScalable(const QFont& font) {
    const QFontInfo info(font);
    return QFontDatabase::isScalable(info.family(), info.styleName());
}

}  // namespace

void TFxCaption::setAngle(int degrees) {
    const int angle = ((degrees % 360) + 360) % 360;
    if (angle == angle_) return;
    angle_ = std::int16_t(angle);
    label_.angleChanged();
}

TFxLabel::TFxLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAutoFillBackground(false);
    setFont(QFont(QStringLiteral("Arial"), 8));
}

void TFxLabel::setCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    update();
}

void TFxLabel::setFontColor(const QColor& colour) {
    if (colour == fontColor_) return;
    fontColor_ = colour;
    update();
}

void TFxLabel::setAlignment(TFxAlignment alignment) {
    if (alignment == alignment_) return;
    alignment_ = alignment;
    update();
}

void TFxLabel::setTransparent(bool transparent) {
    if (transparent == transparent_) return;
    transparent_ = transparent;
    update();
}

void TFxLabel::angleChanged() {
    if (FontFX.angle_ != 0 && !isScalable(font())) {
        QFont turnable = font();
        turnable.setFamily(QStringLiteral("Arial"));
        setFont(turnable);
    }
    update();
}

void TFxLabel::changeEvent(QEvent* event) {
    // A font that cannot be turned sets the caption upright again.
    if (event->type() == QEvent::FontChange && FontFX.angle_ != 0 && !isScalable(font())) FontFX.angle_ = 0;
    QWidget::changeEvent(event);
}

QPoint TFxLabel::boxPosition(int boxWidth, int boxHeight) const {
    auto place = [](int step, int room, int size) {
        if (step == 0) return 0;
        if (step == 1) return (room - size) / 2;
        return room - size;
    };
    const int column = int(alignment_) % 3;
    const int row = int(alignment_) / 3;
    return {place(column, width(), boxWidth), place(row, height(), boxHeight)};
}

void TFxLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!transparent_) painter.fillRect(rect(), palette().color(QPalette::Window));
    if (caption_.empty()) return;

    const QString text = toQt(caption_);
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();
    painter.setFont(font());
    painter.setPen(fontColor_);
    // No background box: the text goes straight onto what the parent drew.
    painter.setBackgroundMode(Qt::TransparentMode);

    const int angle = FontFX.angle_;
    if (angle == 0) {
        const QPoint cell = boxPosition(textWidth, textHeight);
        painter.drawText(QPoint(cell.x(), cell.y() + metrics.ascent()), text);
        return;
    }

    // The box of the turned text: the corners of the text cell, halved sides
    // in whole pixels, turned about the centre and each rounded.
    const int halfWidth = textWidth / 2;
    const int halfHeight = textHeight / 2;
    const double radians = angle * std::numbers::pi / 180.0;
    const double cosine = std::cos(radians);
    const double sine = std::sin(radians);
    int left = 0, right = 0, top = 0, bottom = 0;
    bool first = true;
    for (int sx : {-1, 1}) {
        for (int sy : {-1, 1}) {
            const double x = sx * halfWidth;
            const double y = sy * halfHeight;
            // Counter-clockwise on screen, where y grows downwards.
            const int turnedX = int(std::lround(x * cosine + y * sine));
            const int turnedY = int(std::lround(-x * sine + y * cosine));
            left = first ? turnedX : std::min(left, turnedX);
            right = first ? turnedX : std::max(right, turnedX);
            top = first ? turnedY : std::min(top, turnedY);
            bottom = first ? turnedY : std::max(bottom, turnedY);
            first = false;
        }
    }
    const int boxWidth = right - left;
    const int boxHeight = bottom - top;

    // Where the top-left corner of the unturned cell lands inside the box.
    const int centreX = boxWidth / 2;
    const int centreY = boxHeight / 2;
    FontFX.PosX = std::int16_t(std::lround(centreX - cosine * halfWidth - sine * halfHeight));
    FontFX.PosY = std::int16_t(std::lround(centreY + sine * halfWidth - cosine * halfHeight));

    // Two pixels of room to the right and below, so that at 90 degrees the
    // caption starts two pixels above the label's bottom edge.
    const QPoint box = boxPosition(boxWidth + 2, boxHeight + 2);
    painter.translate(box.x() + FontFX.PosX, box.y() + FontFX.PosY);
    painter.rotate(-angle);
    painter.drawText(QPoint(0, metrics.ascent()), text);
}
