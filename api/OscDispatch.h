#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <lo/lo.h>

class TApiModel;

// What one datagram asked for beyond the writes it made: answers for its sender, and the
// feedback patterns the sender subscribed to or left.
struct TOscOutcome {
    QList<QByteArray> Replies;
    QStringList Subscribe;
    QStringList Unsubscribe;
};

// The OSC addresses of the control API, under /fadelink/v1/: group/SHORT/LEVEL f (volume_a ...
// limiter_b, or volume, sensitivity, limiter for both channels), group/SHORT/LOCK i
// (volume_lock ...), group/SHORT/mute i, group/SHORT/step/LEVEL f, device/ADDRESS/mute_a i
// (mute_b), global/volume f, global/mute i, global/step/volume f; ADDRESS/get answers ADDRESS with its value
// (group/SHORT/get and global/get answer every value; device/ADDRESS/mute_a, mute_b and state can be asked
// too); subscribe s and unsubscribe s for feedback. Datagrams are decoded and dispatched by liblo; a message
// that cannot be acted on is answered with /fadelink/v1/error ss (its address, the reason). Writes go through
// TApiModel, as those of the HTTP API do.
class TOscDispatcher {
public:
    static constexpr char Prefix[] = "/fadelink/v1/";

    explicit TOscDispatcher(const TApiModel& model);
    ~TOscDispatcher();
    TOscDispatcher(const TOscDispatcher&) = delete;
    TOscDispatcher& operator=(const TOscDispatcher&) = delete;

    // Whether liblo could be set up; Error says why not.
    bool Valid() const { return FDecoder != nullptr; }
    QString Error() const { return FError; }

    // Acts on every message of a datagram (one message or a bundle) sent by `client` (its name
    // as the writes carry it).
    TOscOutcome Handle(const QByteArray& datagram, const QString& client);

    // An OSC message with one float, int or string argument, ready to send.
    static QByteArray FloatMessage(const QString& path, double value);
    static QByteArray IntMessage(const QString& path, int value);
    static QByteArray StringMessage(const QString& path, const QString& value);

private:
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message message,
                         void* self);
    void Act(const QString& path, const char* types, lo_arg** argv, int argc);
    void Get(const QString& path, const QStringList& segments);

    const TApiModel& FModel;
    QTemporaryDir FDir;
    lo_server FDecoder = nullptr;
    QString FError;
    // While a datagram is handled:
    TOscOutcome* FOutcome = nullptr;
    QString FClient;
};
