#include "singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <cstring>

namespace {

constexpr char kActivationRequest[] = "activate\n";
// Bounds of the second copy's talk with the first: it must not hang when the
// first copy is busy or hung.
constexpr int kConnectTimeoutMs = 1000;
constexpr int kWriteTimeoutMs = 1000;

}  // namespace

std::string programFileName(const char* argv0) {
    if (!argv0) return std::string();
    const char* slash = std::strrchr(argv0, '/');
    return slash ? std::string(slash + 1) : std::string(argv0);
}

TInstanceMarker::TInstanceMarker(const QString& programFileName) : name_(programFileName) {
    if (name_.isEmpty()) return;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server_->listen(name_)) {
        connect(server_, &QLocalServer::newConnection, this, &TInstanceMarker::acceptRequests);
        return;
    }
    // Binding the name is the test, so two copies started at the same moment
    // cannot both count as the first.
    previousInstanceRunning_ = server_->serverError() == QAbstractSocket::AddressInUseError;
    delete server_;
    server_ = nullptr;
}

TInstanceMarker::~TInstanceMarker() = default;

void TInstanceMarker::acceptRequests() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const qsizetype requestSize = static_cast<qsizetype>(std::strlen(kActivationRequest));
            if (socket->bytesAvailable() < requestSize) return;
            // Anyone on the machine may connect; only the exact request counts.
            if (socket->read(requestSize) == kActivationRequest) emit activationRequested();
            socket->disconnect(this);
            socket->abort();
        });
    }
}

bool TInstanceMarker::ActivatePreviousInstance() const {
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    socket.write(kActivationRequest);
    const bool written = socket.waitForBytesWritten(kWriteTimeoutMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWriteTimeoutMs);
    return written;
}

bool TOneInstance::act(const TInstanceMarker& marker) {
    if (!Enabled || !marker.PreviousInstanceRunning()) return false;
    if (Mode == oiCustom) {
        if (OnCustom) OnCustom();
    } else {
        marker.ActivatePreviousInstance();
    }
    return true;
}
