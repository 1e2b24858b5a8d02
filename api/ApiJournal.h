#pragma once

#include "journal/Journal.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>

#include <memory>

class TJournalReader;
struct TAlarm;
struct TJournalEntry;

// The alarms and the journal as the control API serves them. Without a journal (the program
// runs without one, or it is not connected yet) every call raises EApiError 503.
class TApiJournal {
public:
    static constexpr int DefaultLimit = 100;
    static constexpr int MaxLimit = 1000;

    TApiJournal();
    ~TApiJournal();
    TApiJournal(const TApiJournal&) = delete;
    TApiJournal& operator=(const TApiJournal&) = delete;

    // nullptr: none. The journal must outlive its use here, or be set to another first; a journal
    // destroyed meanwhile counts as none.
    void SetJournal(TJournal* journal);
    TJournal* Journal() const { return FJournal; }

    // {"unacknowledged": N, "alarms": [...]}: open alarms and the latest closed ones, oldest first.
    QJsonObject AlarmsJson() const;
    // The alarm `id` acknowledged by `client`; 404 when there is none. Acknowledging twice keeps
    // the first acknowledgement.
    QJsonObject Acknowledge(const QString& id, const QString& client) const;
    // {"entries": [...]}, newest first, filtered by a query: since (ISO-8601 time), severity (one or
    // more of fault, warning, info, user_action, comma separated), before (an entry id, to page
    // back), limit (1 to MaxLimit, default DefaultLimit). 400 for anything else. Reads the file on
    // the calling thread with a reader of this object's own.
    QJsonObject EntriesJson(const QString& query);

    static QJsonObject AlarmJson(const TAlarm& alarm);
    static QJsonObject EntryJson(const TJournalEntry& entry);
    // "fault", "warning", "info", "user_action" and "amplifier", "user_interface", "project_file",
    // "remote_client", "schedule", "program": the journal's own words as JSON names.
    static QString Word(const QString& name);

private:
    TJournal& Required() const;

    QPointer<TJournal> FJournal;
    std::unique_ptr<TJournalReader> FReader;
};
