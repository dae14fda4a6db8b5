#pragma once
// A caption that can stand turned beside a chart, reading from bottom to top
// at 90 degrees. It has no background and takes no mouse input: it draws on
// top of whatever its parent painted, and the mouse reaches the parent
// through it (the statistics windows read the month under the mouse there).

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <string>

class TFxLabel;

// Where the caption's box sits in the label.
enum TFxAlignment {
    agTopLeft,
    agTopCenter,
    agTopRight,
    agCenterLeft,
    agCenter,
    agCenterRight,
    agBottomLeft,
    agBottomCenter,
    agBottomRight
};

// The turn of the caption and its reference point: where the top-left corner
// of the unturned text cell lies inside the caption's box.
class TFxCaption {
public:
    TFxCaption(const TFxCaption&) = delete;
    TFxCaption& operator=(const TFxCaption&) = delete;

    // Degrees counter-clockwise, kept in 0..359 (360 reads back as 0).
    // Turning needs a scalable font: a label whose font is not scalable gets
    // "Arial" when it is given an angle.
    int angle() const { return angle_; }
    void setAngle(int degrees);

    // Worked out anew each time a turned caption is painted; a value set
    // from the layout lasts only until then.
    std::int16_t PosX = 0;
    std::int16_t PosY = 0;

private:
    friend class TFxLabel;
    explicit TFxCaption(TFxLabel& label) : label_(label) {}

    TFxLabel& label_;
    std::int16_t angle_ = 0;
};

class TFxLabel : public QWidget {
    Q_OBJECT
public:
    // Arial 8 pt in black, angle 0, agBottomLeft (where the statistics
    // windows want their captions), transparent.
    explicit TFxLabel(QWidget* parent = nullptr);

    const std::string& caption() const { return caption_; }  // Windows-1252
    void setCaption(const std::string& caption);

    QColor fontColor() const { return fontColor_; }
    void setFontColor(const QColor& colour);

    TFxCaption FontFX{*this};

    TFxAlignment alignment() const { return alignment_; }
    void setAlignment(TFxAlignment alignment);

    // Off: the label fills itself with its palette's Window colour first.
    bool transparent() const { return transparent_; }
    void setTransparent(bool transparent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TFxCaption;
    void angleChanged();
    QPoint boxPosition(int boxWidth, int boxHeight) const;

    std::string caption_;
    QColor fontColor_ = Qt::black;
    TFxAlignment alignment_ = agBottomLeft;
    bool transparent_ = true;
};
