#pragma once

#include "api/ApiOptions.h"
#include "api/OscDispatch.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

class TApiModel;

// OSC over UDP: a socket on one address (on the user-interface thread, read without ever
// blocking it), datagrams accepted only from the allowed address blocks, decoded and acted on
// by TOscDispatcher; answers go back to the sender. Senders that subscribe get feedback
// messages sent by Publish.
class TOscServer : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxSubscribers = 64;
    // Datagrams read in one go before the event loop gets its turn again.
    static constexpr int MaxDatagramsPerTurn = 256;

    explicit TOscServer(const TApiModel& model, QObject* parent = nullptr);

    // Raises EFadelinkError with the reason when it cannot listen. `allow` empty: loopback only.
    void Listen(const QHostAddress& address, quint16 port, const QList<TSubnet>& allow);
    quint16 Port() const { return FSocket.localPort(); }

    // Sends a ready message to every subscriber with a pattern matching `topic`.
    void Publish(const QString& topic, const QByteArray& message);
    bool Wants(const QString& topic) const;
    int SubscriberCount() const { return int(FSubscribers.size()); }

private:
    struct TSubscriber {
        QHostAddress Address;
        quint16 Port = 0;
        QStringList Patterns;
    };
    void ReadPending();
    bool Allowed(const QHostAddress& sender) const;
    void Subscribe(const QHostAddress& address, quint16 port, const TOscOutcome& outcome);

    QUdpSocket FSocket;
    TOscDispatcher FDispatcher;
    QList<TSubnet> FAllow;
    QList<TSubscriber> FSubscribers;
    bool FReadScheduled = false;
};
