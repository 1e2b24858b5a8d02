#include "api/ApiServer.h"

#include "api/ApiError.h"
#include "api/ApiListener.h"
#include "api/ApiLogging.h"
#include "api/ApiModel.h"
#include "api/ApiRequest.h"
#include "api/ApiTokens.h"
#include "api/EventHub.h"
#include "api/RequestGuard.h"
#include "api/WebPanel.h"
#include "model/Errors.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>
#include <QWebSocket>

Q_LOGGING_CATEGORY(lcApi, "fadelink.api", QtWarningMsg)

namespace {
QString PeerKey(const QHostAddress& address, quint16 port) {
    return address.toString() + QLatin1Char(' ') + QString::number(port);
}

QByteArray MethodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}
} // namespace

bool IsWebSocketUpgrade(const QHttpServerRequest& request) {
    return request.value("Upgrade").toLower() == "websocket";
}

QByteArray BearerSecret(const QByteArray& authorization) {
    const QByteArray value = authorization.trimmed();
    if (value.size() < 7 || value.left(7).toLower() != "bearer ")
        return QByteArray();
    return value.mid(7).trimmed();
}

QByteArray TApiServer::OpenApiDocument() {
    QFile file(QStringLiteral(":/api/openapi.json"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TApiServer::TApiServer(const TApiModel& model, const TApiTokens& tokens, TEventHub& hub, QObject* parent)
    : QAbstractHttpServer(parent), FModel(model), FTokens(tokens), FHub(hub) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &TApiServer::AcceptWebSockets);
}

void TApiServer::Listen(const QHostAddress& address, quint16 port, std::optional<QSslConfiguration> tls) {
    auto* listener = new TApiListener(std::move(tls), this);
    if (!listener->listen(address, port)) {
        const QString reason = listener->errorString();
        delete listener;
        throw EFadelinkError(QStringLiteral("The control API cannot listen on %1:%2: %3")
                                 .arg(address.toString())
                                 .arg(port)
                                 .arg(reason));
    }
    listener->OnConnection = [this](QTcpSocket* socket) { new TRequestGuard(socket, this); };
    bind(listener);
    FListener = listener;
}

quint16 TApiServer::Port() const {
    return FListener ? FListener->serverPort() : 0;
}

TApiResponse TApiServer::Respond(const QHttpServerRequest& request, bool& handOver) {
    handOver = false;
    const QString path = request.url().path(QUrl::FullyEncoded);
    const QByteArray method = MethodName(request.method());
    const QByteArray authorization = request.value("Authorization");
    const QString events = QLatin1String(ApiPrefix) + QLatin1String("/events");
    TApiResponse response;
    if (!FRate.Admit(request.remoteAddress().toString())) {
        response.Status = 429;
        response.Body =
            ErrorBody(429, QStringLiteral("more than %1 requests a second").arg(RequestsPerSecond));
        response.Headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("1")));
    } else if (path == QLatin1String(ApiPrefix) + QLatin1String("/openapi.json") && method == "GET") {
        response.Body = OpenApiDocument();
    } else if (std::optional<TApiResponse> file = WebPanel::Respond(method, path)) {
        response = *file;
    } else if (const TApiToken* token = FTokens.Find(BearerSecret(authorization))) {
        handOver = IsWebSocketUpgrade(request) && path == events;
        if (!handOver)
            response = HandleApiCall(FModel, TApiCall{method, path, request.url().query(QUrl::FullyEncoded),
                                                      request.body(), token});
    } else if (authorization.isEmpty() && IsWebSocketUpgrade(request) && path == events) {
        handOver = true; // signs in with its first message
    } else {
        response.Status = 401;
        response.Body =
            ErrorBody(401, QStringLiteral("a valid token is needed: Authorization: Bearer TOKEN"));
        response.Headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Bearer")));
    }
    if (response.Status >= 400)
        qCDebug(lcApi) << request.remoteAddress().toString() << method << path
                       << "refused:" << response.Status << response.Body;
    return response;
}

bool TApiServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (TRequestGuard* guard = TRequestGuard::Of(socket))
        guard->RequestDone();
    bool handOver = false;
    TApiResponse response = Respond(request, handOver);
    // The server hands an upgrade request to the WebSocket server when this answers true without
    // writing anything; refused, it calls missingHandler, which writes the refusal.
    if (IsWebSocketUpgrade(request)) {
        FRefusal = response;
        if (handOver)
            FUpgrading.insert(PeerKey(socket->peerAddress(), socket->peerPort()), socket);
        return handOver;
    }
    Write(request, socket, response);
    return true;
}

void TApiServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    Write(request, socket, FRefusal);
}

void TApiServer::Write(const QHttpServerRequest& request, QTcpSocket* socket, const TApiResponse& response) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(response.Status));
    responder.writeHeader("Content-Type", response.ContentType);
    responder.writeHeader("Content-Length", QByteArray::number(response.Body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    for (const auto& header : std::as_const(response.Headers))
        responder.writeHeader(header.first, header.second);
    responder.writeBody(response.Body);
}

void TApiServer::AcceptWebSockets() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            continue;
        const QPointer<QTcpSocket> connection =
            FUpgrading.take(PeerKey(socket->peerAddress(), socket->peerPort()));
        if (connection)
            FHub.Accept(std::move(socket), connection);
        else
            socket->abort(); // not one this server let through
    }
    // Upgrades that never completed leave nothing behind.
    for (auto it = FUpgrading.begin(); it != FUpgrading.end();)
        it = it.value() ? std::next(it) : FUpgrading.erase(it);
}
