#include "tformfill.h"

#include "palette.h"

#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <limits>

int MulDiv(int a, int b, int d) {
    if (d == 0) return -1;
    const std::int64_t product = std::int64_t(a) * b;
    const bool negative = (product < 0) != (d < 0);
    // Work on magnitudes so that a half rounds away from zero on both sides.
    const std::uint64_t magnitude = product < 0 ? std::uint64_t(0) - std::uint64_t(product) : std::uint64_t(product);
    const std::uint64_t divisor = d < 0 ? std::uint64_t(0) - std::uint64_t(std::int64_t(d)) : std::uint64_t(d);
    std::uint64_t quotient = magnitude / divisor;
    if (2 * (magnitude % divisor) >= divisor) ++quotient;
    const std::uint64_t limit = negative ? std::uint64_t(std::numeric_limits<int>::max()) + 1
                                         : std::uint64_t(std::numeric_limits<int>::max());
    if (quotient > limit) return -1;
    return negative ? int(-std::int64_t(quotient)) : int(quotient);
}

// --- TGradient ---------------------------------------------------------------

TGradient::TGradient(QObject* parent) : QObject(parent) { rebuild(); }

void TGradient::setColor(QRgb color) {
    color = qRgb(qRed(color), qGreen(color), qBlue(color));
    if (color == color_) return;
    color_ = color;
    rebuild();
}

void TGradient::setEndColor(QRgb color) {
    color = qRgb(qRed(color), qGreen(color), qBlue(color));
    if (color == endColor_) return;
    endColor_ = color;
    rebuild();
}

void TGradient::setColorCount(int count) {
    count = std::clamp(count, kMinColorCount, kMaxColorCount);
    if (count == colorCount_) return;
    colorCount_ = count;
    rebuild();
}

void TGradient::rebuild() {
    const int last = colorCount_ - 1;
    auto component = [last](int from, int to, int i) { return (from + MulDiv(i, to - from, last)) & 0xFF; };
    table_.resize(colorCount_);
    for (int i = 0; i < colorCount_; ++i) {
        table_[i] = qRgb(component(qRed(color_), qRed(endColor_), i),
                         component(qGreen(color_), qGreen(endColor_), i),
                         component(qBlue(color_), qBlue(endColor_), i));
    }
    emit changed();
}

// --- TFillObject ---------------------------------------------------------------

TFillObject::TFillObject(QObject* parent) : QObject(parent), gradient_(new TGradient(this)) {
    connect(gradient_, &TGradient::changed, this, &TFillObject::changed);
}

void TFillObject::setStyle(TFillStyle style) {
    if (style == style_) return;
    style_ = style;
    emit changed();
}

// --- TFormFill -----------------------------------------------------------------

TFormFill::TFormFill(QWidget* owner) : QObject(owner), owner_(owner), fillObject_(new TFillObject(this)) {
    connect(fillObject_, &TFillObject::changed, this, &TFormFill::propertiesChanged);
    owner_->installEventFilter(this);
    owner_->update();
}

TFormFill::~TFormFill() {
    if (owner_) owner_->removeEventFilter(this);
}

void TFormFill::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    imageValid_ = false;
    image_ = QImage();
    owner_->update();
}

void TFormFill::propertiesChanged() {
    imageValid_ = false;
    if (enabled_) owner_->update();
}

const QImage& TFormFill::backdrop() {
    const int width = owner_->width();
    const int height = owner_->height();
    if (imageValid_ && image_.width() == width && image_.height() == height) return image_;
    image_ = QImage();
    imageValid_ = true;
    if (!enabled_ || fillObject_->style() != sfGradient || width <= 0 || height <= 0) return image_;

    image_ = QImage(width, height, QImage::Format_RGB32);
    const std::vector<QRgb>& table = fillObject_->gradient().colorTable();
    const int count = int(table.size());
    QPainter painter(&image_);
    // From the last band up to the first; together they tile the image, and
    // a band is empty when the image has fewer rows than there are colours.
    for (int i = count - 1; i >= 0; --i) {
        const int top = MulDiv(i, height, count);
        const int bottom = MulDiv(i + 1, height, count);
        if (bottom > top) painter.fillRect(QRect(0, top, width, bottom - top), QColor(table[i]));
    }
    return image_;
}

void TFormFill::paintOwner() {
    const QImage& image = backdrop();
    if (image.isNull()) return;
    // Qt clips the painter to the region being repainted; the image itself
    // always covers the whole client area.
    QPainter painter(owner_);
    painter.drawImage(0, 0, image);
}

bool TFormFill::eventFilter(QObject* watched, QEvent* event) {
    if (watched != owner_ || !enabled_) return false;
    switch (event->type()) {
    case QEvent::Paint:
        paintOwner();
        break;
    case QEvent::Resize:
        // The bands depend on the height: a new size repaints all of them.
        imageValid_ = false;
        owner_->update();
        break;
    default:
        break;
    }
    return false;
}

TFormFill* makeWindowBackdrop(QWidget* window) {
    QPalette windowPalette = window->palette();
    windowPalette.setColor(QPalette::Window, palette::kWindow);
    window->setPalette(windowPalette);
    window->setAutoFillBackground(true);

    auto* fill = new TFormFill(window);
    fill->setObjectName(QStringLiteral("FormFill1"));
    fill->fillObject().setStyle(sfGradient);
    TGradient& gradient = fill->fillObject().gradient();
    gradient.setColor(palette::kBackdropTop.rgb());
    gradient.setColorCount(64);
    gradient.setEndColor(palette::kWindow.rgb());
    return fill;
}
