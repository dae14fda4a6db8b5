#include "firstframe.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <charconv>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class FirstFrameWatch : public QObject {
public:
    FirstFrameWatch(QWidget& window, int fd) : QObject(&window), window_(window), fd_(fd) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A paint before the window is on the screen (a repaint while it is
        // being shown) fills only the backing store; the frame counts once
        // the window is exposed. The line is written from the event loop's
        // next turn, after the painted frame has been handed to the screen.
        if (watched == &window_ && event->type() == QEvent::Paint && !reported_ && window_.windowHandle() &&
            window_.windowHandle()->isExposed()) {
            reported_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    static constexpr char kLine[] = "painted\n";
                    [[maybe_unused]] const ssize_t written = ::write(fd_, kLine, std::strlen(kLine));
                    ::close(fd_);
                    window_.removeEventFilter(this);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget& window_;
    int fd_;
    bool reported_ = false;
};

}  // namespace

int takeFirstFrameFd() {
    const char* text = std::getenv("QUILLORA_FIRST_FRAME_FD");
    if (!text || !*text) return -1;
    int fd = -1;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, fd);
    ::unsetenv("QUILLORA_FIRST_FRAME_FD");
    if (error != std::errc{} || stop != end || fd < 0) return -1;
    // Only a pipe that is open now: a number whose descriptor is closed would
    // later name one the program opens itself (its display connection).
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) ? fd : -1;
}

void reportFirstFrame(QWidget& window, int fd) {
    if (fd >= 0) window.installEventFilter(new FirstFrameWatch(window, fd));
}
