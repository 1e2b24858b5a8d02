#include "api/OscServer.h"

#include "api/ApiLogging.h"
#include "api/EventHub.h"
#include "model/Errors.h"

#include <QNetworkDatagram>
#include <QTimer>

TOscServer::TOscServer(const TApiModel& model, QObject* parent) : QObject(parent), FDispatcher(model) {
    connect(&FSocket, &QUdpSocket::readyRead, this, &TOscServer::ReadPending);
}

void TOscServer::Listen(const QHostAddress& address, quint16 port, const QList<TSubnet>& allow) {
    if (!FDispatcher.Valid())
        throw EFadelinkError(QStringLiteral("OSC cannot start: %1").arg(FDispatcher.Error()));
    FAllow = allow;
    if (FAllow.isEmpty()) {
        FAllow.append(TSubnet{QHostAddress(QStringLiteral("127.0.0.0")), 8});
        FAllow.append(TSubnet{QHostAddress::LocalHostIPv6, 128});
    }
    if (!FSocket.bind(address, port))
        throw EFadelinkError(QStringLiteral("OSC cannot listen on %1:%2: %3")
                                 .arg(address.toString())
                                 .arg(port)
                                 .arg(FSocket.errorString()));
}

bool TOscServer::Allowed(const QHostAddress& sender) const {
    bool isV4 = false;
    const quint32 v4 = sender.toIPv4Address(&isV4); // also an IPv4 address mapped into IPv6
    const QHostAddress address = isV4 ? QHostAddress(v4) : sender;
    return std::any_of(FAllow.begin(), FAllow.end(),
                       [&](const TSubnet& subnet) { return subnet.Contains(address); });
}

void TOscServer::ReadPending() {
    FReadScheduled = false;
    for (int i = 0; i < MaxDatagramsPerTurn && FSocket.hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = FSocket.receiveDatagram();
        const QHostAddress sender = datagram.senderAddress();
        if (!Allowed(sender)) {
            qCDebug(lcApi) << "OSC from" << sender.toString() << "refused: not in --osc-allow";
            continue;
        }
        bool isV4 = false;
        const quint32 v4 = sender.toIPv4Address(&isV4);
        const QString client =
            QStringLiteral("osc@") + (isV4 ? QHostAddress(v4).toString() : sender.toString());
        const TOscOutcome outcome = FDispatcher.Handle(datagram.data(), client);
        for (const QByteArray& reply : outcome.Replies)
            FSocket.writeDatagram(reply, sender, quint16(datagram.senderPort()));
        if (!outcome.Subscribe.isEmpty() || !outcome.Unsubscribe.isEmpty())
            Subscribe(sender, quint16(datagram.senderPort()), outcome);
    }
    // More waiting: read on after the event loop had its turn, instead of starving it.
    if (FSocket.hasPendingDatagrams() && !FReadScheduled) {
        FReadScheduled = true;
        QTimer::singleShot(0, this, &TOscServer::ReadPending);
    }
}

void TOscServer::Subscribe(const QHostAddress& address, quint16 port, const TOscOutcome& outcome) {
    auto found = std::find_if(FSubscribers.begin(), FSubscribers.end(),
                              [&](const TSubscriber& s) { return s.Address == address && s.Port == port; });
    if (found == FSubscribers.end()) {
        if (FSubscribers.size() >= MaxSubscribers || outcome.Subscribe.isEmpty())
            return;
        FSubscribers.append(TSubscriber{address, port, {}});
        found = FSubscribers.end() - 1;
    }
    for (const QString& pattern : outcome.Subscribe) {
        const QString normalised = TEventHub::NormalisedPattern(pattern);
        if (!normalised.isEmpty() && !found->Patterns.contains(normalised) &&
            found->Patterns.size() < TEventHub::MaxPatterns)
            found->Patterns.append(normalised);
    }
    for (const QString& pattern : outcome.Unsubscribe)
        found->Patterns.removeAll(TEventHub::NormalisedPattern(pattern));
    if (found->Patterns.isEmpty())
        FSubscribers.erase(found);
}

void TOscServer::Publish(const QString& topic, const QByteArray& message) {
    for (const TSubscriber& subscriber : std::as_const(FSubscribers))
        for (const QString& pattern : subscriber.Patterns)
            if (TEventHub::Matches(pattern, topic)) {
                FSocket.writeDatagram(message, subscriber.Address, subscriber.Port);
                break;
            }
}

bool TOscServer::Wants(const QString& topic) const {
    for (const TSubscriber& subscriber : std::as_const(FSubscribers))
        for (const QString& pattern : subscriber.Patterns)
            if (TEventHub::Matches(pattern, topic))
                return true;
    return false;
}
