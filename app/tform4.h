#pragma once
// The wait window: borderless, on top, centred, one picture that says
// "Moment bitte...", shown while everything else is prepared.

#include <QWidget>

class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    static constexpr int kWidth = 153;
    static constexpr int kHeight = 78;
};
