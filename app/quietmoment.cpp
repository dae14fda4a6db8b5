#include "quietmoment.h"

QuietMoment::QuietMoment(std::chrono::milliseconds quiet, std::function<void()> atQuietMoment, QObject* parent)
    : QObject(parent), atQuietMoment_(std::move(atQuietMoment)) {
    timer_.setSingleShot(true);
    timer_.setInterval(quiet);
    connect(&timer_, &QTimer::timeout, this, [this] {
        ++runs_;
        atQuietMoment_();
    });
}

void QuietMoment::workEnded() { timer_.start(); }
