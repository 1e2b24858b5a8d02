#include "ui/JournalTableModel.h"

#include "journal/Journal.h"
#include "journal/JournalQueryThread.h"

#include <QDateTime>
#include <QMetaObject>

#include <algorithm>
#include <array>

namespace {
QString LocalTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Capitalised(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}
} // namespace

TJournalTableModel::TJournalTableModel(TJournal* journal, QObject* parent)
    : QAbstractTableModel(parent), FJournal(journal),
      FQueries(std::make_unique<TJournalQueryThread>(journal->Path())) {
    connect(journal, &TJournal::EntriesWritten, this, &TJournalTableModel::RequestNewer);
    // A journal started anew after damage is read from its new file.
    connect(journal, &TJournal::ProblemReported, this, [this] { FReopen = true; });
}

TJournalTableModel::~TJournalTableModel() {
    // Waits for the query in progress; its answer, queued to this object, is dropped with it.
    FQueries.reset();
}

QString TJournalTableModel::SeverityTitle(TJournalSeverity severity) {
    return Capitalised(SeverityName(severity));
}

QIcon TJournalTableModel::SeverityIcon(TJournalSeverity severity) {
    static const std::array<QIcon, kJournalSeverityCount> icons = {
        QIcon(QStringLiteral(":/journal/severity_fault.svg")),
        QIcon(QStringLiteral(":/journal/severity_warning.svg")),
        QIcon(QStringLiteral(":/journal/severity_info.svg")),
        QIcon(QStringLiteral(":/journal/severity_user.svg"))};
    return icons.at(std::size_t(severity));
}

QColor TJournalTableModel::SeverityTint(TJournalSeverity severity) {
    switch (severity) {
    case TJournalSeverity::Fault:
        return QColor(0xfb, 0xd5, 0xd5);
    case TJournalSeverity::Warning:
        return QColor(0xfd, 0xee, 0xc4);
    case TJournalSeverity::UserAction:
        return QColor(0xe6, 0xdf, 0xf5);
    case TJournalSeverity::Info:
        break;
    }
    return QColor();
}

void TJournalTableModel::SetFilter(const TJournalFilter& filter) {
    FFilter = filter;
    ++FGeneration;
    beginResetModel();
    FRows.clear();
    FAtEnd = false;
    endResetModel();
    FReopen = true;
    FDamageReported = false;
    RequestPage();
}

const TJournalEntry* TJournalTableModel::EntryAt(int row) const {
    return row >= 0 && row < int(FRows.size()) ? &FRows[std::size_t(row)] : nullptr;
}

void TJournalTableModel::RequestPage() {
    if (FInFlight || FAtEnd)
        return;
    FInFlight = true;
    const quint64 generation = FGeneration;
    const TJournalFilter filter = FFilter;
    const qint64 before = FRows.empty() ? 0 : FRows.back().Id;
    const bool reopen = FReopen;
    FReopen = false;
    FQueries->Post([this, generation, filter, before, reopen](TJournalReader& reader) {
        if (reopen)
            reader.Reopen();
        std::vector<TJournalEntry> entries = reader.Entries(filter, before, kPageSize);
        QMetaObject::invokeMethod(
            this,
            [this, generation, entries = std::move(entries), error = reader.Error(),
             damaged = reader.Damaged()]() mutable {
                TakePage(generation, std::move(entries), error, damaged);
            },
            Qt::QueuedConnection);
    });
}

void TJournalTableModel::TakePage(quint64 generation, std::vector<TJournalEntry> entries,
                                  const QString& error, bool damaged) {
    FInFlight = false;
    if (generation != FGeneration) {
        RequestPage(); // the filter changed meanwhile
        return;
    }
    SetError(error, damaged);
    if (!entries.empty()) {
        beginInsertRows(QModelIndex(), int(FRows.size()), int(FRows.size() + entries.size()) - 1);
        FRows.insert(FRows.end(), std::make_move_iterator(entries.begin()),
                     std::make_move_iterator(entries.end()));
        endInsertRows();
    }
    FAtEnd = !error.isEmpty() || int(entries.size()) < kPageSize;
    emit PageLoaded();
}

void TJournalTableModel::RequestNewer() {
    if (FNewerInFlight) {
        FNewerAgain = true;
        return;
    }
    // Until the first page is in, that page brings the newest entries.
    if (FRows.empty() && !FAtEnd)
        return;
    FNewerInFlight = true;
    const quint64 generation = FGeneration;
    const TJournalFilter filter = FFilter;
    const qint64 top = FRows.empty() ? 0 : FRows.front().Id;
    FQueries->Post([this, generation, filter, top](TJournalReader& reader) {
        std::vector<TJournalEntry> entries = reader.EntriesAfter(filter, top, kPageSize + 1);
        QMetaObject::invokeMethod(
            this,
            [this, generation, entries = std::move(entries)]() mutable {
                TakeNewer(generation, std::move(entries));
            },
            Qt::QueuedConnection);
    });
}

void TJournalTableModel::TakeNewer(quint64 generation, std::vector<TJournalEntry> entries) {
    FNewerInFlight = false;
    if (generation == FGeneration && !entries.empty()) {
        if (int(entries.size()) > kPageSize) {
            SetFilter(FFilter); // too many to insert: start again from the newest
        } else {
            std::reverse(entries.begin(), entries.end());
            beginInsertRows(QModelIndex(), 0, int(entries.size()) - 1);
            FRows.insert(FRows.begin(), std::make_move_iterator(entries.begin()),
                         std::make_move_iterator(entries.end()));
            endInsertRows();
        }
    }
    if (FNewerAgain) {
        FNewerAgain = false;
        RequestNewer();
    }
}

void TJournalTableModel::SetError(const QString& error, bool damaged) {
    if (damaged && !FDamageReported) {
        FDamageReported = true;
        FJournal->ReportDamage(error);
    }
    if (error == FError)
        return;
    FError = error;
    emit ErrorChanged(error);
}

int TJournalTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(FRows.size());
}

int TJournalTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

bool TJournalTableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !FAtEnd;
}

void TJournalTableModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid())
        RequestPage();
}

QVariant TJournalTableModel::data(const QModelIndex& index, int role) const {
    const TJournalEntry* e = EntryAt(index.row());
    if (!e || index.column() < 0 || index.column() >= ColumnCount)
        return QVariant();
    if (role == AddressRole)
        return e->Address;
    if (role == Qt::BackgroundRole) {
        const QColor tint = SeverityTint(e->Severity);
        return tint.isValid() ? QVariant(tint) : QVariant();
    }
    if (role == Qt::DecorationRole)
        return index.column() == Severity ? QVariant(SeverityIcon(e->Severity)) : QVariant();
    if (role == Qt::TextAlignmentRole && index.column() == Repeats)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole) {
        switch (index.column()) {
        case Time:
            return e->RepeatCount > 1 ? QStringLiteral("%1 UTC, %2 times until %3 UTC")
                                            .arg(IsoTime(e->TimeMs))
                                            .arg(e->RepeatCount)
                                            .arg(IsoTime(e->EffectiveLastTimeMs()))
                                      : IsoTime(e->TimeMs) + QStringLiteral(" UTC");
        case Amplifier:
            return e->LongName.isEmpty() ? QVariant() : QVariant(e->LongName);
        case What:
            return e->What;
        default:
            return QVariant();
        }
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case Time:
        return LocalTime(e->TimeMs);
    case Severity:
        return SeverityTitle(e->Severity);
    case Amplifier:
        return e->ShortName.isEmpty() ? e->Address : e->ShortName + QStringLiteral("  ") + e->Address;
    case Group:
        return e->Group;
    case Channel:
        return e->Channel;
    case What:
        return e->What;
    case OldValue:
        return e->OldValue;
    case NewValue:
        return e->NewValue;
    case Source:
        return e->Client.isEmpty() ? Capitalised(SourceName(e->Source))
                                   : Capitalised(SourceName(e->Source)) + QStringLiteral(": ") + e->Client;
    case Repeats:
        return e->RepeatCount > 1 ? QStringLiteral("\u00D7%1").arg(e->RepeatCount) : QString();
    default:
        return QVariant();
    }
}

QVariant TJournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const std::array<const char*, ColumnCount> titles = {
        "Time",          "Severity", "Amplifier", "Group", "Channel",
        "What happened", "Repeats",  "Was",       "Now",   "Source"};
    return section >= 0 && section < ColumnCount ? QVariant(QString::fromLatin1(titles[std::size_t(section)]))
                                                 : QVariant();
}
