#pragma once
// For measuring the start-up from outside: when QUILLORA_FIRST_FRAME_FD names
// an open file descriptor, one line ("painted") is written to it once the
// given window has been painted on the screen for the first time. Without the
// variable nothing is watched and nothing is written.

class QWidget;

void reportFirstFrameWhenAsked(QWidget& window);
