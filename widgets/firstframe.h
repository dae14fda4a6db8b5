#pragma once
// For measuring the start-up from outside: when QUILLORA_FIRST_FRAME_FD names
// an open file descriptor, one line ("painted") is written to it once the
// given window has been painted on the screen for the first time. Without the
// variable nothing is watched and nothing is written.

class QWidget;

// The descriptor QUILLORA_FIRST_FRAME_FD names, or -1; the variable is
// removed, so that nothing the program starts inherits it. Called before any
// thread runs: other threads read the environment.
int takeFirstFrameFd();
// Watches `window` when `fd` is one.
void reportFirstFrame(QWidget& window, int fd);
