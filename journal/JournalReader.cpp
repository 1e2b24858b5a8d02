#include "journal/JournalReader.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalLog.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {
// A text longer than this is looked up by this many of its three-letter pieces; the check of
// the text itself does the rest.
constexpr int kMaxTrigrams = 16;
// Other conditions that leave at most this many entries make the text index not worth it.
constexpr int kFewEntries = 20000;

const char* const kTextColumns[] = {"what",       "address",   "short_name", "long_name",
                                    "group_name", "old_value", "new_value",  "client"};

QString PrefixedEntryColumns() {
    QStringList columns = kEntryColumns.split(QStringLiteral(", "));
    for (QString& c : columns)
        c.prepend(QStringLiteral("entry."));
    return columns.join(QStringLiteral(", "));
}

QString LikePattern(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

// The text index query: every distinct three-character piece of `text`, each quoted.
QString TrigramQuery(const QString& text) {
    const QList<uint> codes = text.toUcs4();
    QStringList pieces;
    for (qsizetype i = 0; i + 3 <= codes.size(); ++i) {
        const QString piece = QString::fromUcs4(reinterpret_cast<const char32_t*>(codes.constData() + i), 3);
        if (!pieces.contains(piece, Qt::CaseInsensitive))
            pieces.append(piece);
    }
    if (pieces.size() > kMaxTrigrams) {
        QStringList chosen;
        for (int i = 0; i < kMaxTrigrams; ++i)
            chosen.append(pieces.at(i * (pieces.size() - 1) / (kMaxTrigrams - 1)));
        pieces = chosen;
    }
    for (QString& piece : pieces)
        piece = QLatin1Char('"') + QString(piece).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                QLatin1Char('"');
    return pieces.join(QStringLiteral(" AND "));
}
} // namespace

TJournalSql BuildJournalSql(const TJournalFilter& f, const TJournalPlan& plan) {
    TJournalSql sql;
    sql.From = plan.TimeIndex ? QStringLiteral("entry INDEXED BY entry_time") : QStringLiteral("entry");
    QStringList where;
    if ((f.Severities & TJournalFilter::kAllSeverities) != TJournalFilter::kAllSeverities) {
        QStringList wanted;
        for (int s = 0; s < kJournalSeverityCount; ++s)
            if (f.Severities & (1u << s))
                wanted.append(QString::number(s));
        where.append(wanted.isEmpty() ? QStringLiteral("0")
                                      : QStringLiteral("entry.severity IN (") +
                                            wanted.join(QLatin1Char(',')) + QLatin1Char(')'));
    }
    const auto equal = [&](const char* column, const QVariant& value) {
        where.append(QStringLiteral("entry.") + QLatin1String(column) + QStringLiteral(" = ?"));
        sql.Values.append(value);
    };
    if (!f.Group.isEmpty())
        equal("group_name", f.Group);
    if (!f.Address.isEmpty())
        equal("address", f.Address);
    if (f.Source)
        equal("source", int(*f.Source));
    if (f.SinceMs > 0) {
        where.append(QStringLiteral("entry.time >= ?"));
        sql.Values.append(f.SinceMs);
    }
    if (f.UntilMs > 0) {
        where.append(QStringLiteral("entry.time < ?"));
        sql.Values.append(f.UntilMs);
    }
    if (f.SinceLastStart) {
        where.append(QStringLiteral("entry.id >= (SELECT coalesce(max(id), 0) FROM entry WHERE event = ?)"));
        sql.Values.append(JournalEvent::ProgramStart);
    }
    const QString text = f.Text.trimmed();
    if (!text.isEmpty()) {
        if (plan.TextIndex && text.toUcs4().size() >= 3) {
            sql.From = QStringLiteral("entry_text JOIN entry ON entry.id = entry_text.rowid");
            where.append(QStringLiteral("entry_text MATCH ?"));
            sql.Values.append(TrigramQuery(text));
        }
        QStringList any;
        for (const char* column : kTextColumns) {
            any.append(QStringLiteral("entry.") + QLatin1String(column) +
                       QStringLiteral(" LIKE ? ESCAPE '\\'"));
            sql.Values.append(LikePattern(text));
        }
        where.append(QLatin1Char('(') + any.join(QStringLiteral(" OR ")) + QLatin1Char(')'));
    }
    sql.Where = where.isEmpty() ? QStringLiteral("1") : where.join(QStringLiteral(" AND "));
    return sql;
}

class TJournalReader::TImpl {
public:
    explicit TImpl(const QString& path) : Path(path) {}
    QString Path;
    std::unique_ptr<TJournalConnection> Connection;
    // The last plan, for the pages of the same filter.
    std::optional<TJournalFilter> Planned;
    TJournalPlan Plan;
};

TJournalReader::TJournalReader(const QString& path) : FImpl(std::make_unique<TImpl>(path)) {}

TJournalReader::~TJournalReader() = default;

void TJournalReader::Reopen() {
    FImpl->Connection.reset();
    FImpl->Planned.reset();
}

namespace {
// Runs a query; on failure records it in `error`/`damaged` and returns false.
bool Run(QSqlQuery& q, const QString& sql, const QVariantList& values, QString& error, bool& damaged) {
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        error = q.lastError().text();
        damaged = ClassifyJournalError(q.lastError()) == TJournalFailure::Damaged;
        return false;
    }
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec()) {
        error = q.lastError().text();
        damaged = ClassifyJournalError(q.lastError()) == TJournalFailure::Damaged;
        qCDebug(lcJournal) << "query failed:" << error << sql;
        return false;
    }
    return true;
}
} // namespace

bool TJournalReader::Open() {
    FError.clear();
    FDamaged = false;
    if (FImpl->Connection)
        return true;
    auto connection = std::make_unique<TJournalConnection>(FImpl->Path, QStringLiteral("reader"));
    const TJournalFailure failure = connection->Open(false);
    if (failure != TJournalFailure::None) {
        FError = connection->Error();
        FDamaged = failure == TJournalFailure::Damaged;
        return false;
    }
    FImpl->Connection = std::move(connection);
    return true;
}

int TJournalReader::BoundedCount(const TJournalFilter& filter) {
    const TJournalSql sql = BuildJournalSql(filter, TJournalPlan());
    QSqlQuery q(FImpl->Connection->Database());
    QString error;
    bool damaged = false;
    if (!Run(q,
             QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM entry WHERE ") + sql.Where +
                 QStringLiteral(" LIMIT %1)").arg(kFewEntries + 1),
             sql.Values, error, damaged) ||
        !q.next())
        return kFewEntries + 1; // unknown: as if many
    return q.value(0).toInt();
}

TJournalPlan TJournalReader::Plan(const TJournalFilter& filter) {
    if (FImpl->Planned && *FImpl->Planned == filter)
        return FImpl->Plan;
    TJournalPlan plan;
    if (filter.SinceMs > 0 || filter.UntilMs > 0) {
        TJournalFilter window;
        window.SinceMs = filter.SinceMs;
        window.UntilMs = filter.UntilMs;
        plan.TimeIndex = BoundedCount(window) <= kFewEntries;
    }
    if (FImpl->Connection->HasTextIndex() && filter.Text.trimmed().toUcs4().size() >= 3 && !plan.TimeIndex) {
        TJournalFilter rest = filter;
        rest.Text.clear();
        plan.TextIndex = rest == TJournalFilter() || BoundedCount(rest) > kFewEntries;
    }
    FImpl->Planned = filter;
    FImpl->Plan = plan;
    return plan;
}

std::vector<TJournalEntry> TJournalReader::Entries(const TJournalFilter& filter, qint64 beforeId, int limit) {
    if (!Open())
        return {};
    TJournalSql sql = BuildJournalSql(filter, Plan(filter));
    const QString id = sql.From.startsWith(QLatin1String("entry_text")) ? QStringLiteral("entry_text.rowid")
                                                                        : QStringLiteral("entry.id");
    if (beforeId > 0) {
        sql.Where += QStringLiteral(" AND ") + id + QStringLiteral(" < ?");
        sql.Values.append(beforeId);
    }
    sql.Values.append(limit);
    QSqlQuery q(FImpl->Connection->Database());
    std::vector<TJournalEntry> entries;
    if (!Run(q,
             QStringLiteral("SELECT ") + PrefixedEntryColumns() + QStringLiteral(" FROM ") + sql.From +
                 QStringLiteral(" WHERE ") + sql.Where + QStringLiteral(" ORDER BY ") + id +
                 QStringLiteral(" DESC LIMIT ?"),
             sql.Values, FError, FDamaged))
        return entries;
    while (q.next())
        entries.push_back(EntryFromRow(q));
    return entries;
}

std::vector<TJournalEntry> TJournalReader::EntriesAfter(const TJournalFilter& filter, qint64 afterId,
                                                        int limit) {
    if (!Open())
        return {};
    TJournalSql sql = BuildJournalSql(filter, Plan(filter));
    const QString id = sql.From.startsWith(QLatin1String("entry_text")) ? QStringLiteral("entry_text.rowid")
                                                                        : QStringLiteral("entry.id");
    sql.Where += QStringLiteral(" AND ") + id + QStringLiteral(" > ?");
    sql.Values.append(afterId);
    sql.Values.append(limit);
    QSqlQuery q(FImpl->Connection->Database());
    std::vector<TJournalEntry> entries;
    if (!Run(q,
             QStringLiteral("SELECT ") + PrefixedEntryColumns() + QStringLiteral(" FROM ") + sql.From +
                 QStringLiteral(" WHERE ") + sql.Where + QStringLiteral(" ORDER BY ") + id +
                 QStringLiteral(" LIMIT ?"),
             sql.Values, FError, FDamaged))
        return entries;
    while (q.next())
        entries.push_back(EntryFromRow(q));
    return entries;
}

qint64 TJournalReader::ForEachEntry(const TJournalFilter& filter,
                                    const std::function<bool(const TJournalEntry&)>& visit) {
    if (!Open())
        return -1;
    // One query streamed to the end: pages would each make the query planner pick its way again,
    // and a time condition may send every page through the whole time range.
    const TJournalSql sql = BuildJournalSql(filter, Plan(filter));
    const QString id = sql.From.startsWith(QLatin1String("entry_text")) ? QStringLiteral("entry_text.rowid")
                                                                        : QStringLiteral("entry.id");
    QSqlQuery q(FImpl->Connection->Database());
    if (!Run(q,
             QStringLiteral("SELECT ") + PrefixedEntryColumns() + QStringLiteral(" FROM ") + sql.From +
                 QStringLiteral(" WHERE ") + sql.Where + QStringLiteral(" ORDER BY ") + id,
             sql.Values, FError, FDamaged))
        return -1;
    qint64 visited = 0;
    while (q.next()) {
        ++visited;
        if (!visit(EntryFromRow(q)))
            break;
    }
    if (q.lastError().type() != QSqlError::NoError) {
        FError = q.lastError().text();
        FDamaged = ClassifyJournalError(q.lastError()) == TJournalFailure::Damaged;
        return -1;
    }
    return visited;
}

qint64 TJournalReader::LastStartMs() {
    if (!Open())
        return 0;
    QSqlQuery q(FImpl->Connection->Database());
    if (!Run(q, QStringLiteral("SELECT time FROM entry WHERE event = ? ORDER BY id DESC LIMIT 1"),
             {JournalEvent::ProgramStart}, FError, FDamaged))
        return 0;
    return q.next() ? q.value(0).toLongLong() : 0;
}

namespace {
QStringList Distinct(QSqlQuery& q, const QString& column, QString& error, bool& damaged) {
    QStringList values;
    if (!Run(q,
             QStringLiteral("SELECT DISTINCT ") + column + QStringLiteral(" FROM entry WHERE ") + column +
                 QStringLiteral(" <> '' ORDER BY 1"),
             {}, error, damaged))
        return values;
    while (q.next())
        values.append(q.value(0).toString());
    return values;
}
} // namespace

QStringList TJournalReader::Groups() {
    if (!Open())
        return {};
    QSqlQuery q(FImpl->Connection->Database());
    return Distinct(q, QStringLiteral("group_name"), FError, FDamaged);
}

QStringList TJournalReader::Addresses() {
    if (!Open())
        return {};
    QSqlQuery q(FImpl->Connection->Database());
    return Distinct(q, QStringLiteral("address"), FError, FDamaged);
}

qint64 TJournalReader::EntryCount() {
    if (!Open())
        return -1;
    QSqlQuery q(FImpl->Connection->Database());
    if (!Run(q, QStringLiteral("SELECT count(*) FROM entry"), {}, FError, FDamaged) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

std::vector<THistorySample> TJournalReader::History(const QString& address, qint64 sinceMs, qint64 untilMs) {
    if (!Open())
        return {};
    QSqlQuery q(FImpl->Connection->Database());
    std::vector<THistorySample> samples;
    if (!Run(q,
             QStringLiteral("SELECT ") + kHistoryColumns +
                 QStringLiteral(" FROM history WHERE address = ? AND time >= ? AND time < ? ORDER BY time"),
             {address, sinceMs, untilMs}, FError, FDamaged))
        return samples;
    while (q.next())
        samples.push_back(HistoryFromRow(q));
    return samples;
}

std::vector<TAlarm> TJournalReader::ClosedAlarms(int limit) {
    if (!Open())
        return {};
    QSqlQuery q(FImpl->Connection->Database());
    std::vector<TAlarm> alarms;
    if (!Run(q,
             QStringLiteral("SELECT ") + kAlarmColumns +
                 QStringLiteral(
                     " FROM alarm WHERE cleared > 0 AND acknowledged > 0 ORDER BY raised DESC LIMIT ?"),
             {limit}, FError, FDamaged))
        return alarms;
    while (q.next())
        alarms.push_back(AlarmFromRow(q));
    return alarms;
}
