#include "journal/JournalEntry.h"

#include <QDateTime>
#include <QTimeZone>

#include <array>

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
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
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
