#pragma once

#include "journal/JournalEntry.h"

#include <QString>

// A fault or warning that stays until someone acknowledges it. One condition on one amplifier
// is one alarm, whatever it does meanwhile: the key names it ("192.168.1.5/offline",
// "192.168.1.5/channel-fault/A").
struct TAlarm {
    QString Id;          // unique, kept in the journal database
    QString Key;         // the condition
    TJournalEntry Entry; // what raised it
    qint64 RaisedMs = 0;
    qint64 ClearedMs = 0;      // 0 while the condition lasts
    qint64 AcknowledgedMs = 0; // 0 until acknowledged
    QString AcknowledgedBy;    // who: the operator's login, or the remote client's name
    int RaiseCount = 1;        // how often the condition came back before the alarm was closed

    bool Cleared() const { return ClearedMs != 0; }
    bool Acknowledged() const { return AcknowledgedMs != 0; }
    // Closed alarms are history: the condition is gone and someone has seen it.
    bool Closed() const { return Cleared() && Acknowledged(); }
    // How long the condition lasted, or has lasted until `nowMs`.
    qint64 DurationMs(qint64 nowMs) const { return (Cleared() ? ClearedMs : nowMs) - RaisedMs; }
};

// The key of a condition on an amplifier, with a channel where it applies.
inline QString AlarmKey(const QString& address, const QString& condition,
                        const QString& channel = QString()) {
    QString key = address + QLatin1Char('/') + condition;
    if (!channel.isEmpty())
        key += QLatin1Char('/') + channel;
    return key;
}
