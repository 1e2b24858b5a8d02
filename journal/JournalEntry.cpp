#include "journal/JournalEntry.h"

#include <QDateTime>
#include <QTimeZone>

#include <array>
#include <cstdio>

namespace {
const std::array<QString, kJournalSeverityCount> kSeverityNames = {
    QStringLiteral("fault"), QStringLiteral("warning"), QStringLiteral("info"),
    QStringLiteral("user action")};
const std::array<QString, kJournalSourceCount> kSourceNames = {
    QStringLiteral("amplifier"),     QStringLiteral("user interface"), QStringLiteral("project file"),
    QStringLiteral("remote client"), QStringLiteral("schedule"),       QStringLiteral("program")};
} // namespace

bool IsFoldedEvent(const TJournalEntry& entry) {
    return entry.Event == JournalEvent::State || entry.Event == JournalEvent::Threshold;
}

QString FoldKey(const TJournalEntry& entry) {
    const QChar sep(0x1f);
    return entry.Address + sep + entry.Event + sep + entry.Channel + sep + entry.What + sep + entry.OldValue +
           sep + entry.NewValue;
}

QString SeverityName(TJournalSeverity severity) {
    return kSeverityNames.at(std::size_t(severity));
}

QString SourceName(TJournalSource source) {
    return kSourceNames.at(std::size_t(source));
}

std::optional<TJournalSeverity> SeverityFromName(const QString& name) {
    for (std::size_t i = 0; i < kSeverityNames.size(); ++i)
        if (kSeverityNames[i] == name)
            return TJournalSeverity(i);
    return std::nullopt;
}

std::optional<TJournalSource> SourceFromName(const QString& name) {
    for (std::size_t i = 0; i < kSourceNames.size(); ++i)
        if (kSourceNames[i] == name)
            return TJournalSource(i);
    return std::nullopt;
}

QString IsoTime(qint64 ms) {
    if (ms == 0)
        return QString();
    // The civil date of a day count, by arithmetic: exports format a time for every row, and
    // this is ten times quicker than going through QDateTime.
    constexpr qint64 kDayMs = 86400000;
    qint64 days = ms / kDayMs;
    qint64 rest = ms % kDayMs;
    if (rest < 0) {
        rest += kDayMs;
        --days;
    }
    days += 719468; // from 1970-01-01 to 0000-03-01
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year),
                  month, day, int(rest / 3600000), int(rest / 60000 % 60), int(rest / 1000 % 60),
                  int(rest % 1000));
    return QString::fromLatin1(text);
}

std::optional<qint64> ParseIsoTime(const QString& text) {
    QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!time.isValid())
        return std::nullopt;
    // A time without zone or offset is taken as UTC, as every time the journal writes is.
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeZone(QTimeZone::utc());
    return time.toMSecsSinceEpoch();
}

QJsonObject EntryToJson(const TJournalEntry& e) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), e.Id);
    o.insert(QStringLiteral("time"), IsoTime(e.TimeMs));
    o.insert(QStringLiteral("lastTime"), IsoTime(e.EffectiveLastTimeMs()));
    o.insert(QStringLiteral("severity"), SeverityName(e.Severity));
    o.insert(QStringLiteral("event"), e.Event);
    o.insert(QStringLiteral("address"), e.Address);
    o.insert(QStringLiteral("shortName"), e.ShortName);
    o.insert(QStringLiteral("longName"), e.LongName);
    o.insert(QStringLiteral("group"), e.Group);
    o.insert(QStringLiteral("channel"), e.Channel);
    o.insert(QStringLiteral("what"), e.What);
    o.insert(QStringLiteral("oldValue"), e.OldValue);
    o.insert(QStringLiteral("newValue"), e.NewValue);
    o.insert(QStringLiteral("source"), SourceName(e.Source));
    o.insert(QStringLiteral("client"), e.Client);
    o.insert(QStringLiteral("repeatCount"), e.RepeatCount);
    return o;
}

TJournalEntry EntryFromJson(const QJsonObject& o) {
    TJournalEntry e;
    e.Id = qint64(o.value(QStringLiteral("id")).toDouble());
    e.TimeMs = ParseIsoTime(o.value(QStringLiteral("time")).toString()).value_or(0);
    e.LastTimeMs = ParseIsoTime(o.value(QStringLiteral("lastTime")).toString()).value_or(e.TimeMs);
    e.Severity =
        SeverityFromName(o.value(QStringLiteral("severity")).toString()).value_or(TJournalSeverity::Info);
    e.Event = o.value(QStringLiteral("event")).toString();
    e.Address = o.value(QStringLiteral("address")).toString();
    e.ShortName = o.value(QStringLiteral("shortName")).toString();
    e.LongName = o.value(QStringLiteral("longName")).toString();
    e.Group = o.value(QStringLiteral("group")).toString();
    e.Channel = o.value(QStringLiteral("channel")).toString();
    e.What = o.value(QStringLiteral("what")).toString();
    e.OldValue = o.value(QStringLiteral("oldValue")).toString();
    e.NewValue = o.value(QStringLiteral("newValue")).toString();
    e.Source = SourceFromName(o.value(QStringLiteral("source")).toString()).value_or(TJournalSource::Program);
    e.Client = o.value(QStringLiteral("client")).toString();
    e.RepeatCount = o.value(QStringLiteral("repeatCount")).toInt(1);
    return e;
}

qint64 SystemClockMs() {
    return QDateTime::currentMSecsSinceEpoch();
}
