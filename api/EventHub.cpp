#include "api/EventHub.h"

#include "api/ApiError.h"
#include "api/ApiLogging.h"
#include "api/ApiModel.h"
#include "api/ApiRequest.h"
#include "api/ApiServer.h"
#include "api/ApiTokens.h"
#include "api/RequestGuard.h"
#include "model/GroupsUnit.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <cmath>
#include <deque>

namespace {
constexpr int kMetersTickMs = 100;
constexpr int kCloseGraceMs = 2000;

// Closes with a reason; a peer that does not answer the close (it is not reading) is cut off.
void CloseSocket(QWebSocket* socket, QWebSocketProtocol::CloseCode code, const QString& reason) {
    socket->close(code, reason);
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
}

QString Compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The bytes a text message takes on the wire from the server: the payload and a frame header
// (servers do not mask).
qint64 FrameBytes(qint64 payload) {
    return payload + (payload < 126 ? 2 : payload < 65536 ? 4 : 10);
}
} // namespace

struct TEventHub::TClient {
    QWebSocket* Socket = nullptr;
    QString Peer;
    const TApiToken* Token = nullptr;
    QStringList Patterns;
    int MetersRate = 1;
    QElapsedTimer SinceMeters;
    QHash<QString, quint64> MetersSeen; // device address: the status count last sent
    // Where each message still in the send buffers ends, in bytes queued since the start.
    std::deque<qint64> Ends;
    qint64 Queued = 0;
    QSslSocket* Tls = nullptr; // the encrypted connection underneath, whose own buffer counts too
    bool Meters() const { return Patterns.contains(QLatin1String("meters")); }
};

TEventHub::TEventHub(const TApiModel& model, const TApiTokens& tokens, QObject* parent)
    : QObject(parent), FModel(model), FTokens(tokens) {
    FMeters.setInterval(kMetersTickMs);
    connect(&FMeters, &QTimer::timeout, this, &TEventHub::MetersTick);
}

TEventHub::~TEventHub() {
    for (const auto& client : FClients) {
        client->Socket->disconnect(this);
        client->Socket->abort();
    }
}

QString TEventHub::NormalisedPattern(const QString& pattern) {
    static const QStringList kWords{QStringLiteral("global"),  QStringLiteral("alarms"),
                                    QStringLiteral("journal"), QStringLiteral("meters"),
                                    QStringLiteral("group/*"), QStringLiteral("device/*")};
    if (kWords.contains(pattern))
        return pattern;
    if (pattern.startsWith(QLatin1String("group/")) && pattern.size() > 6)
        return QStringLiteral("group/") + ShortNameKey(pattern.mid(6));
    if (pattern.startsWith(QLatin1String("device/")) && pattern.size() > 7)
        return pattern;
    return QString();
}

bool TEventHub::Matches(const QString& pattern, const QString& topic) {
    if (pattern.endsWith(QLatin1String("/*")))
        return topic.startsWith(QStringView(pattern).chopped(1));
    return pattern == topic;
}

TEventHub::TClient* TEventHub::Find(const QWebSocket* socket) const {
    for (const auto& client : FClients)
        if (client->Socket == socket)
            return client.get();
    return nullptr;
}

void TEventHub::Accept(std::unique_ptr<QWebSocket> owned, QTcpSocket* connection) {
    QWebSocket* socket = owned.release();
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    // A subscriber may listen for hours without sending a byte.
    if (TRequestGuard* guard = TRequestGuard::Of(connection))
        guard->TakenOver();
    // The WebSocket does not free the connection it was upgraded from: it goes with it.
    connect(socket, &QObject::destroyed, this, [connection = QPointer<QTcpSocket>(connection)] {
        if (connection)
            connection->deleteLater();
    });
    const QString peer = socket->peerAddress().toString();
    if (socket->requestUrl().path() != QLatin1String(ApiPrefix) + QLatin1String("/events")) {
        CloseSocket(socket, QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("no such path"));
        return;
    }
    if (int(FClients.size()) >= MaxClients) {
        qCDebug(lcApi) << peer << "WebSocket refused: already" << MaxClients << "clients";
        CloseSocket(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                    QStringLiteral("too many clients (%1)").arg(MaxClients));
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(quint64(MaxMessageBytes));
    socket->setMaxAllowedIncomingFrameSize(quint64(MaxMessageBytes));

    auto client = std::make_unique<TClient>();
    client->Socket = socket;
    client->Peer = peer;
    client->Tls = qobject_cast<QSslSocket*>(connection);
    TClient* c = client.get();
    FClients.push_back(std::move(client));

    connect(socket, &QWebSocket::disconnected, this, [this, socket] { Remove(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        if (TClient* found = Find(socket))
            Received(*found, text);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray&) {
        if (TClient* found = Find(socket))
            Refuse(*found, 400, QStringLiteral("messages are JSON text"));
    });
    const QByteArray header = socket->request().rawHeader("Authorization");
    if (!header.isEmpty()) {
        SignIn(*c, BearerSecret(header));
        return;
    }
    QTimer::singleShot(AuthTimeoutMs, this, [this, socket] {
        TClient* found = Find(socket);
        if (found && !found->Token)
            Drop(*found, QWebSocketProtocol::CloseCodePolicyViolated,
                 QStringLiteral("unauthorized: no token"));
    });
}

void TEventHub::SignIn(TClient& client, const QByteArray& secret) {
    client.Token = FTokens.Find(secret);
    if (!client.Token) {
        Drop(client, QWebSocketProtocol::CloseCodePolicyViolated,
             QStringLiteral("unauthorized: unknown token"));
        return;
    }
    Send(client, Compact({{QStringLiteral("type"), QStringLiteral("hello")},
                          {QStringLiteral("client"), client.Token->Name},
                          {QStringLiteral("role"), RoleName(client.Token->Role)}}));
}

void TEventHub::Received(TClient& client, const QString& text) {
    if (!FRate.Admit(client.Peer)) {
        Refuse(client, 429, QStringLiteral("more than %1 messages a second").arg(MessagesPerSecond));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (!document.isObject()) {
        Refuse(client, 400, QStringLiteral("a message is a JSON object with a \"type\""));
        return;
    }
    const QJsonObject message = document.object();
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == QLatin1String("auth")) {
        SignIn(client, message.value(QLatin1String("token")).toString().toUtf8());
    } else if (!client.Token) {
        Drop(client, QWebSocketProtocol::CloseCodePolicyViolated,
             QStringLiteral("unauthorized: sign in with {\"type\": \"auth\", \"token\": ...} first"));
    } else if (type == QLatin1String("subscribe") || type == QLatin1String("unsubscribe")) {
        Subscribe(client, message, type == QLatin1String("subscribe"));
    } else {
        Refuse(client, 400, QStringLiteral("unknown message type '%1'").arg(type));
    }
}

void TEventHub::Subscribe(TClient& client, const QJsonObject& message, bool add) {
    for (auto it = message.begin(); it != message.end(); ++it)
        if (it.key() != QLatin1String("type") && it.key() != QLatin1String("patterns") &&
            !(add && it.key() == QLatin1String("rate"))) {
            Refuse(client, 400, QStringLiteral("unknown field '%1'").arg(it.key()));
            return;
        }
    const QJsonValue list = message.value(QLatin1String("patterns"));
    if (!list.isArray()) {
        Refuse(client, 400, QStringLiteral("'patterns' takes a list of patterns"));
        return;
    }
    QStringList patterns;
    for (const QJsonValue& value : list.toArray()) {
        const QString pattern = NormalisedPattern(value.toString());
        if (pattern.isEmpty()) {
            Refuse(client, 400,
                   QStringLiteral("'%1' is not a pattern: group/*, group/NAME, device/*, device/ADDRESS, "
                                  "global, alarms, journal or meters")
                       .arg(value.toString()));
            return;
        }
        patterns.append(pattern);
    }
    int rate = client.MetersRate;
    if (message.contains(QLatin1String("rate"))) {
        const QJsonValue value = message.value(QLatin1String("rate"));
        const double asked = value.toDouble(-1);
        if (!value.isDouble() || asked < 1 || asked > MaxMetersRate || asked != std::floor(asked)) {
            Refuse(client, 400,
                   QStringLiteral("'rate' is a whole number of meter messages a second, 1 to %1")
                       .arg(MaxMetersRate));
            return;
        }
        rate = int(asked);
    }
    QStringList now = client.Patterns;
    for (const QString& pattern : std::as_const(patterns)) {
        if (!add)
            now.removeAll(pattern);
        else if (!now.contains(pattern))
            now.append(pattern);
    }
    if (now.size() > MaxPatterns) {
        Refuse(client, 400, QStringLiteral("at most %1 patterns").arg(MaxPatterns));
        return;
    }
    client.Patterns = now;
    client.MetersRate = rate;
    Send(client, Compact({{QStringLiteral("type"), QStringLiteral("subscribed")},
                          {QStringLiteral("patterns"), QJsonArray::fromStringList(client.Patterns)},
                          {QStringLiteral("rate"), client.MetersRate}}));
    UpdateMetersTimer();
}

bool TEventHub::Wants(const QString& topic) const {
    for (const auto& client : FClients)
        if (client->Token)
            for (const QString& pattern : std::as_const(client->Patterns))
                if (Matches(pattern, topic))
                    return true;
    return false;
}

void TEventHub::Publish(const QString& topic, const QJsonObject& event) {
    QString json;
    // A copy: a dropped client leaves the list while it is walked.
    std::vector<TClient*> targets;
    for (const auto& client : FClients)
        if (client->Token)
            for (const QString& pattern : std::as_const(client->Patterns))
                if (Matches(pattern, topic)) {
                    targets.push_back(client.get());
                    break;
                }
    if (targets.empty())
        return;
    json = Compact(event);
    for (TClient* client : targets)
        if (Find(client->Socket))
            Send(*client, json);
}

void TEventHub::Send(TClient& client, const QString& json) {
    const qint64 pending =
        client.Socket->bytesToWrite() + (client.Tls ? client.Tls->encryptedBytesToWrite() : 0);
    const qint64 written = client.Queued - pending;
    while (!client.Ends.empty() && client.Ends.front() <= written)
        client.Ends.pop_front();
    if (int(client.Ends.size()) >= MaxUnsent) {
        Drop(client, QWebSocketProtocol::CloseCodePolicyViolated,
             QStringLiteral("too slow: %1 messages unsent").arg(MaxUnsent));
        return;
    }
    const qint64 bytes = client.Socket->sendTextMessage(json);
    client.Queued += FrameBytes(bytes);
    client.Ends.push_back(client.Queued);
    // Out now, without blocking: left to the event loop, an event told in the middle of a long
    // change (a group of a thousand members) would wait for the whole change to finish.
    client.Socket->flush();
}

void TEventHub::Refuse(TClient& client, int status, const QString& detail) {
    Send(client, Compact({{QStringLiteral("type"), QStringLiteral("error")},
                          {QStringLiteral("error"), ErrorWord(status)},
                          {QStringLiteral("detail"), detail}}));
}

void TEventHub::Drop(TClient& client, QWebSocketProtocol::CloseCode code, const QString& reason) {
    QWebSocket* socket = client.Socket;
    qCDebug(lcApi) << client.Peer << "WebSocket dropped:" << reason;
    Remove(socket);
    CloseSocket(socket, code, reason);
    emit ClientDropped(reason);
}

void TEventHub::Remove(const QWebSocket* socket) {
    for (auto it = FClients.begin(); it != FClients.end(); ++it)
        if ((*it)->Socket == socket) {
            (*it)->Socket->disconnect(this);
            FClients.erase(it);
            break;
        }
    UpdateMetersTimer();
}

void TEventHub::UpdateMetersTimer() {
    const bool wanted = std::any_of(FClients.begin(), FClients.end(),
                                    [](const auto& client) { return client->Token && client->Meters(); });
    if (wanted && !FMeters.isActive())
        FMeters.start();
    else if (!wanted)
        FMeters.stop();
}

void TEventHub::MetersTick() {
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    std::vector<TClient*> due;
    for (const auto& client : FClients) {
        // A tick early rather than a tick late: timers fire a little either side.
        const qint64 period = 1000 / client->MetersRate - kMetersTickMs / 2;
        if (client->Token && client->Meters() &&
            (!client->SinceMeters.isValid() || client->SinceMeters.elapsed() >= period))
            due.push_back(client.get());
    }
    for (TClient* client : due) {
        QJsonArray devices;
        try {
            devices = FModel.MetersSince(client->MetersSeen);
        } catch (const EApiError&) {
            return; // no project open
        }
        client->SinceMeters.start();
        if (!devices.isEmpty() && Find(client->Socket))
            Send(*client, Compact({{QStringLiteral("type"), QStringLiteral("meters")},
                                   {QStringLiteral("time"), now},
                                   {QStringLiteral("devices"), devices}}));
    }
}
