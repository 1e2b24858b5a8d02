#pragma once

#include "journal/JournalEntry.h"
#include "journal/JournalReader.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>

#include <memory>
#include <vector>

class TJournal;
class TJournalQueryThread;

// The journal's entries for a table, newest first, under a filter. It fetches lazily: a page
// when the filter is set and another whenever the view scrolls to the end, each on the
// journal's query thread, so that neither a million entries nor a slow disk holds up the
// window. Entries written while it is shown come in at the top.
class TJournalTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn {
        Time,
        Severity,
        Amplifier,
        Group,
        Channel,
        What,
        Repeats,
        OldValue,
        NewValue,
        Source,
        ColumnCount
    };
    static constexpr int kPageSize = 200;
    // Data role of every cell: the entry's amplifier address.
    static constexpr int AddressRole = Qt::UserRole + 1;

    explicit TJournalTableModel(TJournal* journal, QObject* parent = nullptr);
    ~TJournalTableModel() override;

    // Shows the entries matching `filter` from the newest on.
    void SetFilter(const TJournalFilter& filter);
    const TJournalFilter& Filter() const { return FFilter; }
    const TJournalEntry* EntryAt(int row) const;
    bool Loading() const { return FInFlight; }
    // The reader's last failure, empty when none.
    const QString& Error() const { return FError; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // How a severity looks: its name for people, its icon, the tint of its rows (invalid for
    // none).
    static QString SeverityTitle(TJournalSeverity severity);
    static QIcon SeverityIcon(TJournalSeverity severity);
    static QColor SeverityTint(TJournalSeverity severity);

signals:
    // A page arrived (the first one after SetFilter: the filter is shown).
    void PageLoaded();
    void ErrorChanged(const QString& error);

private:
    void RequestPage();
    void RequestNewer();
    void TakePage(quint64 generation, std::vector<TJournalEntry> entries, const QString& error, bool damaged);
    void TakeNewer(quint64 generation, std::vector<TJournalEntry> entries);
    void SetError(const QString& error, bool damaged);

    TJournal* FJournal;
    std::unique_ptr<TJournalQueryThread> FQueries;
    TJournalFilter FFilter;
    std::vector<TJournalEntry> FRows;
    quint64 FGeneration = 0;
    bool FInFlight = false;
    bool FAtEnd = false;
    bool FReopen = true;
    bool FNewerInFlight = false;
    bool FNewerAgain = false;
    bool FDamageReported = false;
    QString FError;
};
