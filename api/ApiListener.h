#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <optional>

class QSslSocket;
class QThread;
class TTlsHandshaker;

// The listening socket of the control API. It bounds the connections open at once, and with TLS
// it runs each handshake on a thread of its own (a handshake is work that may take a while, and
// never on the user-interface thread), handing the connection over once it is encrypted.
// Every connection passes through OnConnection just before the server takes it up.
class TApiListener : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int MaxConnections = 256;
    static constexpr int HandshakeTimeoutMs = 10000;

    // Plain TCP without `tls`.
    explicit TApiListener(std::optional<QSslConfiguration> tls, QObject* parent = nullptr);
    ~TApiListener() override;

    std::function<void(QTcpSocket*)> OnConnection;

    QTcpSocket* nextPendingConnection() override;
    // Connections accepted and not yet closed, handshakes included.
    int OpenConnections() const { return *FOpen; }

protected:
    void incomingConnection(qintptr handle) override;

private:
    void Adopt(QTcpSocket* socket);
    void Handshaken(QSslSocket* socket);

    std::shared_ptr<int> FOpen = std::make_shared<int>(0);
    std::unique_ptr<QThread> FThread;
    TTlsHandshaker* FHandshaker = nullptr; // lives on FThread
};
