#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// Bounds what one HTTP connection can make the server hold. The HTTP server reads every request
// whole into memory, with no limit of its own, before it hands it over; so this watches the
// connection's bytes ahead of the server's parser (it is connected to the socket first) and
// refuses a request as soon as its declared length or the bytes received pass the limits:
// with a 413 JSON error, after which the connection is drained for a moment and closed. It also
// closes a connection that has not completed a request for IdleMs. A WebSocket upgrade ends its
// watch over the bytes: the WebSocket server, which has limits of its own, reads them from then
// on; a connection it refused is freed once it is closed.
class TRequestGuard : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxHeaderBytes = 16 * 1024;
    static constexpr qint64 MaxBodyBytes = 64 * 1024;
    static constexpr int IdleMs = 30000;
    static constexpr int DrainMs = 2000;

    // Becomes a child of `socket`; `server` is the receiver whose reading a refusal cuts off.
    TRequestGuard(QTcpSocket* socket, QObject* server);

    // The guard of a socket, or nullptr.
    static TRequestGuard* Of(QTcpSocket* socket);
    // The server took up a complete request: counting starts again for the next one.
    void RequestDone();
    // The connection became a WebSocket that the event hub took up: it lives as long as its
    // client listens, with the hub's own limits, so the idle limit no longer applies.
    void TakenOver() { FIdle.stop(); }
    bool IdleLimitRunning() const { return FIdle.isActive(); }

private:
    void ReadyRead();
    void HeaderComplete(qsizetype end);
    void Refuse(const QString& detail);

    QTcpSocket* FSocket;
    QObject* FServer;
    QTimer FIdle;
    QByteArray FHead; // the first bytes of the request, until its header block is complete
    bool FHeadComplete = false;
    qint64 FSeen = 0; // bytes of the current request
    bool FRefused = false;
    bool FUpgraded = false;
};
