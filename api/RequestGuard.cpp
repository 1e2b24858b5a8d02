#include "api/RequestGuard.h"

#include "api/ApiError.h"
#include "api/ApiLogging.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {
// The value of header `name` (lower case, with the colon) in a header block, or nothing.
QByteArray HeaderValue(const QByteArray& head, const QByteArray& name) {
    for (const QByteArray& line : head.split('\n'))
        if (line.trimmed().toLower().startsWith(name))
            return line.mid(name.size()).trimmed().toLower();
    return QByteArray();
}
} // namespace

TRequestGuard::TRequestGuard(QTcpSocket* socket, QObject* server)
    : QObject(socket), FSocket(socket), FServer(server) {
    connect(socket, &QIODevice::readyRead, this, &TRequestGuard::ReadyRead);
    FIdle.setSingleShot(true);
    FIdle.setInterval(IdleMs);
    connect(&FIdle, &QTimer::timeout, this, [this] {
        qCDebug(lcApi) << FSocket->peerAddress().toString() << "closed: no complete request for" << IdleMs
                       << "ms";
        FSocket->abort();
    });
    FIdle.start();
}

TRequestGuard* TRequestGuard::Of(QTcpSocket* socket) {
    return socket ? socket->findChild<TRequestGuard*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void TRequestGuard::RequestDone() {
    FHead.clear();
    FHeadComplete = false;
    FSeen = 0;
    FIdle.start();
}

void TRequestGuard::ReadyRead() {
    if (!FSocket->isOpen())
        return;
    if (FRefused) {
        FSocket->readAll(); // draining: read and dropped
        return;
    }
    // During the server's read transaction only the bytes it has not read yet are available:
    // exactly what arrived since the last look.
    const qint64 fresh = FSocket->bytesAvailable();
    FSeen += fresh;
    if (!FHeadComplete && fresh > 0 && FHead.size() < MaxHeaderBytes) {
        FHead += FSocket->peek(std::min<qint64>(fresh, MaxHeaderBytes - FHead.size()));
        const qsizetype end = FHead.indexOf("\r\n\r\n");
        if (end >= 0)
            HeaderComplete(end);
    }
    if (FRefused)
        return;
    if (!FHeadComplete && FHead.size() >= MaxHeaderBytes)
        Refuse(QStringLiteral("the request's header is longer than %1 bytes").arg(MaxHeaderBytes));
    else if (FSeen > MaxHeaderBytes + MaxBodyBytes)
        Refuse(QStringLiteral("the body is longer than %1 bytes").arg(MaxBodyBytes));
}

void TRequestGuard::HeaderComplete(qsizetype end) {
    FHeadComplete = true;
    const QByteArray head = FHead.left(end);
    if (HeaderValue(head, "upgrade:").contains("websocket")) {
        // The WebSocket server takes the connection over.
        FUpgraded = true;
        disconnect(FSocket, &QIODevice::readyRead, this, nullptr);
        return;
    }
    const QByteArray length = HeaderValue(head, "content-length:");
    bool ok = false;
    const qint64 declared = length.toLongLong(&ok);
    if (!length.isEmpty() && (!ok || declared > MaxBodyBytes))
        Refuse(QStringLiteral("the body is longer than %1 bytes").arg(MaxBodyBytes));
}

void TRequestGuard::Refuse(const QString& detail) {
    FRefused = true;
    qCDebug(lcApi) << FSocket->peerAddress().toString() << "refused:" << detail;
    // The server's parser reads no more of this connection; what its read transaction held goes.
    disconnect(FSocket, &QIODevice::readyRead, FServer, nullptr);
    if (FSocket->isTransactionStarted())
        FSocket->commitTransaction();
    FSocket->readAll();
    // The server cannot answer a request it has not parsed, so the refusal is written here.
    const QByteArray body = ErrorBody(413, detail);
    FSocket->write("HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nConnection: close\r\n"
                   "Content-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body);
    // Drained for a moment rather than closed at once: a close with unread bytes resets the
    // connection, and the client might lose the answer.
    FIdle.stop();
    const bool plain = !qobject_cast<QSslSocket*>(FSocket);
    connect(FSocket, &QIODevice::bytesWritten, this, [this, plain] {
        if (plain && FSocket->bytesToWrite() == 0)
            ::shutdown(int(FSocket->socketDescriptor()), SHUT_WR);
    });
    QTimer::singleShot(DrainMs, this, [this] { FSocket->abort(); });
}
