#pragma once

#include "api/RateLimiter.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWebSocketProtocol>

#include <memory>
#include <vector>

class QTcpSocket;
class QWebSocket;
class TApiModel;
class TApiTokens;
struct TApiToken;

// The WebSocket side of the control API (/api/v1/events). A client signs in with the token of
// its upgrade request's Authorization header or with a first {"type": "auth", "token": ...}
// message, then subscribes to topic patterns ("group/*", "group/MAIN", "device/*",
// "device/127.0.0.5", "global", "alarms", "journal", "meters" with a rate of 1 to 10 a second) and
// receives every published event whose topic matches, in the order published. Sending never
// waits: a client that leaves MaxUnsent messages unsent is dropped with a close reason, so a slow
// reader costs memory up to that bound and nothing else.
class TEventHub : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxClients = 64;
    static constexpr int MaxUnsent = 1000;
    static constexpr int MaxMetersRate = 10;
    static constexpr int MaxPatterns = 256;
    static constexpr int AuthTimeoutMs = 10000;
    static constexpr qint64 MaxMessageBytes = 64 * 1024;
    static constexpr int MessagesPerSecond = 100;

    TEventHub(const TApiModel& model, const TApiTokens& tokens, QObject* parent = nullptr);
    ~TEventHub() override;

    // Takes up a connection the server upgraded; `connection` is the connection underneath,
    // which is freed with the WebSocket.
    void Accept(std::unique_ptr<QWebSocket> socket, QTcpSocket* connection);
    // Sends `event` to every signed-in client subscribed to a pattern that matches `topic`.
    void Publish(const QString& topic, const QJsonObject& event);
    // Whether a signed-in client is subscribed to `topic`: an event nobody wants is not built.
    bool Wants(const QString& topic) const;
    int ClientCount() const { return int(FClients.size()); }

    // A pattern in its compared form (group short names as the registry compares them), or an
    // empty string when it is not a pattern of the forms above.
    static QString NormalisedPattern(const QString& pattern);
    static bool Matches(const QString& pattern, const QString& topic);

signals:
    // A client was dropped by the hub (not one that closed by itself), with the reason it was
    // given.
    void ClientDropped(const QString& reason);

private:
    struct TClient;
    TClient* Find(const QWebSocket* socket) const;
    void Received(TClient& client, const QString& text);
    void SignIn(TClient& client, const QByteArray& secret);
    void Subscribe(TClient& client, const QJsonObject& message, bool add);
    void Send(TClient& client, const QString& json);
    void Refuse(TClient& client, int status, const QString& detail);
    void Drop(TClient& client, QWebSocketProtocol::CloseCode code, const QString& reason);
    void Remove(const QWebSocket* socket);
    void MetersTick();
    void UpdateMetersTimer();

    const TApiModel& FModel;
    const TApiTokens& FTokens;
    std::vector<std::unique_ptr<TClient>> FClients;
    TRateLimiter FRate{MessagesPerSecond};
    QTimer FMeters;
};
