#pragma once

#include "api/ApiRequest.h"
#include "api/RateLimiter.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpSocket>

#include <optional>

class TApiListener;
class TApiModel;
class TApiTokens;
class TEventHub;

// The HTTP side of the control API: every request is counted against its client's budget (429),
// must carry a known token (401) except the API description and the web panel's files, and is
// answered by HandleApiCall; WebSocket connections go to the event hub. Bodies and connections are bounded by
// the listener and the request guard.
class TApiServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr int RequestsPerSecond = 100;

    TApiServer(const TApiModel& model, const TApiTokens& tokens, TEventHub& hub, QObject* parent = nullptr);

    // Listens on `address`:`port` (0: any free port), with TLS when `tls` is given. Raises
    // EFadelinkError with the system's reason when it cannot.
    void Listen(const QHostAddress& address, quint16 port, std::optional<QSslConfiguration> tls);
    quint16 Port() const;
    TRateLimiter& RateLimiter() { return FRate; }

    // The API description served at /api/v1/openapi.json.
    static QByteArray OpenApiDocument();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // The answer to a request; `handOver`: a WebSocket upgrade to let through, with no answer.
    TApiResponse Respond(const QHttpServerRequest& request, bool& handOver);
    void Write(const QHttpServerRequest& request, QTcpSocket* socket, const TApiResponse& response);
    void AcceptWebSockets();

    const TApiModel& FModel;
    const TApiTokens& FTokens;
    TEventHub& FHub;
    TApiListener* FListener = nullptr;
    TRateLimiter FRate{RequestsPerSecond};
    TApiResponse FRefusal; // of the upgrade request refused last, for missingHandler
    // Connections let through to the WebSocket server, by peer, until their WebSocket comes.
    QHash<QString, QPointer<QTcpSocket>> FUpgrading;
};

// Whether a request asks to become a WebSocket.
bool IsWebSocketUpgrade(const QHttpServerRequest& request);
// The token named by "Authorization: Bearer SECRET" in a header value, or an empty array.
QByteArray BearerSecret(const QByteArray& authorization);
