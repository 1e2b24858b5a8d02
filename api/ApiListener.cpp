#include "api/ApiListener.h"

#include "api/ApiLogging.h"

#include <QCoreApplication>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <unistd.h>

// Lives on the listener's handshake thread: one encrypted connection at a time is built there and
// moved to the listener's thread when its handshake is done.
class TTlsHandshaker : public QObject {
public:
    TTlsHandshaker(const QSslConfiguration& tls, QThread* home) : FTls(tls), FHome(home) {}

    // Handshake thread. `done` is called with the encrypted socket, now of the home thread, or
    // with nullptr when the handshake failed.
    void Begin(qintptr handle, const std::function<void(QSslSocket*)>& done) {
        auto* socket = new QSslSocket(this); // deleted with the handshaker while in progress
        connect(socket, &QObject::destroyed, this, [done] { done(nullptr); });
        socket->setSslConfiguration(FTls);
        if (!socket->setSocketDescriptor(handle)) {
            ::close(int(handle));
            delete socket;
            return;
        }
        auto* limit = new QTimer(socket);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, socket, [socket] {
            qCDebug(lcApi) << socket->peerAddress().toString() << "TLS handshake not done in time";
            socket->abort();
            socket->deleteLater();
        });
        limit->start(TApiListener::HandshakeTimeoutMs);
        connect(socket, &QSslSocket::encrypted, this, [this, socket, limit, done] {
            delete limit;
            disconnect(socket, nullptr, this, nullptr);
            // Moved once the signal has returned, from this thread, which owns it until then.
            QMetaObject::invokeMethod(
                this,
                [this, socket, done] {
                    socket->setParent(nullptr);
                    socket->moveToThread(FHome);
                    done(socket);
                },
                Qt::QueuedConnection);
        });
        connect(socket, &QSslSocket::errorOccurred, this, [socket](QAbstractSocket::SocketError) {
            qCDebug(lcApi) << socket->peerAddress().toString()
                           << "TLS handshake failed:" << socket->errorString();
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        socket->startServerEncryption();
    }

private:
    const QSslConfiguration FTls;
    QThread* const FHome;
};

TApiListener::TApiListener(std::optional<QSslConfiguration> tls, QObject* parent) : QTcpServer(parent) {
    if (!tls)
        return;
    FThread = std::make_unique<QThread>();
    FThread->setObjectName(QStringLiteral("api-tls"));
    FHandshaker = new TTlsHandshaker(*tls, thread());
    FHandshaker->moveToThread(FThread.get());
    FThread->start();
}

TApiListener::~TApiListener() {
    if (FThread) {
        // Handshakes in progress end with the handshaker; one that finished meanwhile is still
        // delivered below, so that its socket ends with this listener instead of being lost.
        QMetaObject::invokeMethod(
            FHandshaker, [handshaker = FHandshaker] { delete handshaker; }, Qt::BlockingQueuedConnection);
        FThread->quit();
        FThread->wait();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

void TApiListener::incomingConnection(qintptr handle) {
    if (*FOpen >= MaxConnections) {
        qCDebug(lcApi) << "connection refused: already" << *FOpen << "open";
        ::close(int(handle));
        return;
    }
    ++*FOpen;
    if (!FHandshaker) {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            ::close(int(handle));
            delete socket;
            --*FOpen;
            return;
        }
        Adopt(socket);
        addPendingConnection(socket);
        return;
    }
    QMetaObject::invokeMethod(FHandshaker, [this, handle] {
        FHandshaker->Begin(handle, [this](QSslSocket* socket) {
            QMetaObject::invokeMethod(
                this, [this, socket] { Handshaken(socket); }, Qt::QueuedConnection);
        });
    });
}

namespace {
// A child of a connection that counts it open for as long as it exists. Its destruction, not a
// signal, gives the place back: the WebSocket code cuts every signal of the connections it takes.
class TOpenMark : public QObject {
public:
    TOpenMark(QObject* connection, std::shared_ptr<int> open) : QObject(connection), FOpen(std::move(open)) {}
    ~TOpenMark() override { --*FOpen; }

private:
    std::shared_ptr<int> FOpen;
};
} // namespace

void TApiListener::Adopt(QTcpSocket* socket) {
    new TOpenMark(socket, FOpen);
}

void TApiListener::Handshaken(QSslSocket* socket) {
    if (!socket) {
        --*FOpen; // a failed handshake gives its place back
        return;
    }
    socket->setParent(this);
    Adopt(socket);
    addPendingConnection(socket);
    emit newConnection();
}

QTcpSocket* TApiListener::nextPendingConnection() {
    QTcpSocket* socket = QTcpServer::nextPendingConnection();
    if (!socket)
        return nullptr;
    if (OnConnection)
        OnConnection(socket);
    // What arrived before the server listened to the socket (right after a TLS handshake) would
    // otherwise wait for the next bytes.
    QTimer::singleShot(0, socket, [socket] {
        if (socket->isOpen() && socket->bytesAvailable() > 0)
            emit socket->readyRead();
    });
    return socket;
}
