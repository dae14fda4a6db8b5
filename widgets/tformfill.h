#pragma once
// The gradient backdrop of the info dialog and the statistics windows.
//
// `FormFill1` is a non-visual child of its window. It watches the window's
// events and, on every paint of the window, paints the whole backdrop first;
// the window's own paintEvent (the statistics charts) and then the child
// widgets (transparent labels, frames) draw over it. The bands always come
// from the whole client area, never from the part being repainted, so a
// label whose text changes gets a patch of backdrop that lines up with the
// rest.
//
// The window keeps its own background colour (autoFillBackground with the
// palette's Window role): it shows when the backdrop is disabled and is
// simply painted over while it is enabled. makeWindowBackdrop() sets both.

#include <QImage>
#include <QObject>
#include <QRgb>

#include <vector>

class QWidget;

// a * b / d with a 64-bit intermediate, rounded to the nearest integer,
// halves away from zero (for negative quotients too). d = 0, or a result
// that does not fit an int, gives -1.
int MulDiv(int a, int b, int d);

// Only the top-to-bottom direction is drawn.
enum TGradientStyle { gstVertical };

// Start and end colour and the number of bands. Every assignment that
// changes a value rebuilds the colour table and emits changed().
class TGradient : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinColorCount = 2;
    static constexpr int kMaxColorCount = 236;

    explicit TGradient(QObject* parent = nullptr);

    QRgb color() const { return color_; }  // start colour, first band
    void setColor(QRgb color);
    QRgb endColor() const { return endColor_; }  // last band
    void setEndColor(QRgb color);
    int colorCount() const { return colorCount_; }
    void setColorCount(int count);  // kept within 2..236
    // The gradient always runs between the two colours; there are no colour
    // stops between them.
    bool twoColors() const { return true; }
    TGradientStyle style() const { return gstVertical; }

    // colorCount() entries: entry i has each component
    // (c0 + MulDiv(i, c1 - c0, N - 1)) mod 256, so entry 0 is color() and
    // the last entry endColor().
    const std::vector<QRgb>& colorTable() const { return table_; }

signals:
    void changed();

private:
    void rebuild();

    QRgb color_ = qRgb(0x00, 0x00, 0xFF);
    QRgb endColor_ = qRgb(0x00, 0x00, 0x00);
    int colorCount_ = 16;
    std::vector<QRgb> table_;
};

// sfNone paints nothing, so the window shows its own colour.
enum TFillStyle { sfNone, sfGradient };

class TFillObject : public QObject {
    Q_OBJECT
public:
    explicit TFillObject(QObject* parent = nullptr);

    TFillStyle style() const { return style_; }
    void setStyle(TFillStyle style);
    TGradient& gradient() { return *gradient_; }
    const TGradient& gradient() const { return *gradient_; }

signals:
    void changed();  // the style or any gradient property

private:
    TFillStyle style_ = sfNone;
    TGradient* gradient_;
};

class TFormFill : public QObject {
    Q_OBJECT
public:
    // Attaches to `owner` at once (an event filter) and becomes its child, so
    // it lives and dies with the window.
    explicit TFormFill(QWidget* owner);
    ~TFormFill() override;

    QWidget* owner() const { return owner_; }
    TFillObject& fillObject() { return *fillObject_; }
    const TFillObject& fillObject() const { return *fillObject_; }

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);  // repaints the whole window either way

    // The finished backdrop for the window's present size (a null image when
    // the window is empty or nothing is to be painted); built on demand.
    const QImage& backdrop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void propertiesChanged();
    void paintOwner();

    QWidget* owner_;
    TFillObject* fillObject_;
    bool enabled_ = true;
    QImage image_;
    bool imageValid_ = false;
};

// The one backdrop of the info dialog and the three statistics windows:
// `FormFill1`, 64 bands from palette::kBackdropTop down to palette::kWindow,
// which is also the window's own colour beneath it.
TFormFill* makeWindowBackdrop(QWidget* window);
