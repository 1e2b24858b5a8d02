#include "api/ApiJournal.h"

#include "api/ApiError.h"
#include "journal/Journal.h"
#include "journal/JournalReader.h"

#include <QJsonArray>
#include <QLocale>
#include <QUrlQuery>

TApiJournal::TApiJournal() = default;
TApiJournal::~TApiJournal() = default;

void TApiJournal::SetJournal(TJournal* journal) {
    FJournal = journal;
    FReader.reset();
}

TJournal& TApiJournal::Required() const {
    if (!FJournal)
        throw EApiError(503, QStringLiteral("this program runs without a journal"));
    return *FJournal;
}

QString TApiJournal::Word(const QString& name) {
    return QString(name).replace(QLatin1Char(' '), QLatin1Char('_'));
}

QJsonObject TApiJournal::EntryJson(const TJournalEntry& e) {
    return {{QStringLiteral("id"), double(e.Id)},
            {QStringLiteral("time"), IsoTime(e.TimeMs)},
            {QStringLiteral("last_time"), IsoTime(e.EffectiveLastTimeMs())},
            {QStringLiteral("repeat_count"), e.RepeatCount},
            {QStringLiteral("severity"), Word(SeverityName(e.Severity))},
            {QStringLiteral("event"), e.Event},
            {QStringLiteral("address"), e.Address},
            {QStringLiteral("short_name"), e.ShortName},
            {QStringLiteral("long_name"), e.LongName},
            {QStringLiteral("group"), e.Group},
            {QStringLiteral("channel"), e.Channel},
            {QStringLiteral("what"), e.What},
            {QStringLiteral("old_value"), e.OldValue},
            {QStringLiteral("new_value"), e.NewValue},
            {QStringLiteral("source"), Word(SourceName(e.Source))},
            {QStringLiteral("client"), e.Client}};
}

QJsonObject TApiJournal::AlarmJson(const TAlarm& a) {
    const auto time = [](qint64 ms) { return ms ? QJsonValue(IsoTime(ms)) : QJsonValue(); };
    return {{QStringLiteral("id"), a.Id},
            {QStringLiteral("key"), a.Key},
            {QStringLiteral("raised"), time(a.RaisedMs)},
            {QStringLiteral("cleared"), time(a.ClearedMs)},
            {QStringLiteral("acknowledged"), time(a.AcknowledgedMs)},
            {QStringLiteral("acknowledged_by"), a.AcknowledgedBy},
            {QStringLiteral("raise_count"), a.RaiseCount},
            {QStringLiteral("entry"), EntryJson(a.Entry)}};
}

QJsonObject TApiJournal::AlarmsJson() const {
    const TJournal& journal = Required();
    QJsonArray alarms;
    for (const TAlarm& alarm : journal.Alarms())
        alarms.append(AlarmJson(alarm));
    return {{QStringLiteral("unacknowledged"), journal.AlarmCount()}, {QStringLiteral("alarms"), alarms}};
}

QJsonObject TApiJournal::Acknowledge(const QString& id, const QString& client) const {
    TJournal& journal = Required();
    if (!journal.FindAlarm(id))
        throw EApiError(404, QStringLiteral("no alarm '%1'").arg(id));
    journal.AcknowledgeAlarm(id, TJournalSource::RemoteClient, client);
    return AlarmJson(*journal.FindAlarm(id));
}

QJsonObject TApiJournal::EntriesJson(const QString& query) {
    const TJournal& journal = Required();
    TJournalFilter filter;
    qint64 before = 0;
    int limit = DefaultLimit;
    const QUrlQuery items(query);
    for (const auto& [key, encoded] : items.queryItems(QUrl::FullyDecoded)) {
        const QString& value = encoded;
        bool ok = false;
        if (key == QLatin1String("since")) {
            const std::optional<qint64> since = ParseIsoTime(value);
            if (!since)
                throw EApiError(400, QStringLiteral("'since' takes an ISO-8601 time, not '%1'").arg(value));
            filter.SinceMs = *since;
        } else if (key == QLatin1String("severity")) {
            filter.Severities = 0;
            for (const QString& word : value.split(QLatin1Char(','))) {
                std::optional<TJournalSeverity> severity =
                    SeverityFromName(QString(word).replace(QLatin1Char('_'), QLatin1Char(' ')));
                if (!severity)
                    throw EApiError(400,
                                    QStringLiteral("'severity' takes fault, warning, info or user_action, "
                                                   "not '%1'")
                                        .arg(word));
                filter.Severities |= TJournalFilter::Bit(*severity);
            }
        } else if (key == QLatin1String("before")) {
            before = QLocale::c().toLongLong(value, &ok);
            if (!ok || before < 1)
                throw EApiError(400, QStringLiteral("'before' takes an entry id, not '%1'").arg(value));
        } else if (key == QLatin1String("limit")) {
            limit = QLocale::c().toInt(value, &ok);
            if (!ok || limit < 1 || limit > MaxLimit)
                throw EApiError(400,
                                QStringLiteral("'limit' takes 1 to %1, not '%2'").arg(MaxLimit).arg(value));
        } else {
            throw EApiError(400, QStringLiteral("unknown parameter '%1'").arg(key));
        }
    }
    if (!FReader)
        FReader = std::make_unique<TJournalReader>(journal.Path());
    const std::vector<TJournalEntry> entries = FReader->Entries(filter, before, limit);
    if (!FReader->Error().isEmpty())
        throw EApiError(503, QStringLiteral("the journal cannot be read: %1").arg(FReader->Error()));
    QJsonArray json;
    for (const TJournalEntry& entry : entries)
        json.append(EntryJson(entry));
    return {{QStringLiteral("entries"), json}};
}
