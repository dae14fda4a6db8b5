#include "windowicon.h"

#include <QApplication>
#include <QIcon>
#include <QWidget>

#include <algorithm>

namespace {

QSize smallestOf(const QList<QSize>& sizes) {
    return *std::min_element(sizes.begin(), sizes.end(),
                             [](QSize a, QSize b) { return a.width() * a.height() < b.width() * b.height(); });
}

}  // namespace

void showHandingIconOnce(QWidget& window) {
    const QIcon icon = window.windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    if (window.testAttribute(Qt::WA_WState_Created) || !window.isWindow() || sizes.size() < 2) {
        window.show();
        return;
    }
    const QSize smallest = smallestOf(sizes);
    // As the window's own icon it is not touched by the swaps below, nor by
    // those of a window shown later: the program's icon does not change.
    window.setWindowIcon(icon);
    // Made, not yet shown, while the application's icon is the small one:
    // showing runs the window's own handlers, and any window they open gets
    // the whole icon.
    const QIcon applicationIcon = QApplication::windowIcon();
    QApplication::setWindowIcon(QIcon(icon.pixmap(smallest)));
    window.winId();
    QApplication::setWindowIcon(applicationIcon);
    window.show();
}

void showWithSmallIcon(QWidget& window) {
    const QIcon icon = window.windowIcon();
    QIcon small;
    for (const QSize size : icon.availableSizes())
        if (size.width() <= kSmallIconSide && size.height() <= kSmallIconSide) small.addPixmap(icon.pixmap(size));
    if (window.testAttribute(Qt::WA_WState_Created) || !window.isWindow() || small.isNull()) {
        window.show();
        return;
    }
    window.setWindowIcon(small);
    const QIcon applicationIcon = QApplication::windowIcon();
    QApplication::setWindowIcon(QIcon(small.pixmap(smallestOf(small.availableSizes()))));
    window.winId();
    QApplication::setWindowIcon(applicationIcon);
    window.show();
}
