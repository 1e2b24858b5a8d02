#pragma once

#include "journal/History.h"
#include "journal/JournalEntry.h"
#include "model/ChangeFeed.h"
#include "model/GroupsUnit.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <array>
#include <map>
#include <memory>

class QTimer;
struct TModelThresholds;
class TDevice;
class TGroups;
class TJournal;
class TSession;

// Writes what happens to the model into the journal: every change the registry reports (with its
// source and the remote client's name), the amplifiers' states, channel states and threshold
// crossings, the alarms they raise and clear, one history sample per amplifier a minute, and
// what the operator does with projects. Lives on the user-interface thread and only queues:
// TJournal writes on its own thread.
//
// Settings that move in steps (a fader being dragged) are gathered: the changes of one field by
// one source that follow each other within SettleMs are one entry, from the first old value to
// the last new one. A level a group hands to its members is the group's entry, not one per
// member. The objects a project file creates and sets are summed up in the "Project opened" entry.
class TJournalRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int SettleMs = 1000;

    // Follows `session`'s registry across New, Open and the end, and its projects.
    TJournalRecorder(TJournal& journal, TSession& session, QObject* parent = nullptr);
    // Follows `registry` only (nullptr: none), for tests and tools without a session.
    explicit TJournalRecorder(TJournal& journal, QObject* parent = nullptr);
    // Writes the settings still being gathered and the minutes in progress; clears nothing.
    ~TJournalRecorder() override;

    void Follow(TGroups* registry);
    // Records one change (what the feed delivers).
    void Record(const TModelChange& change);
    // Writes the settings entries still being gathered now.
    void FlushSettings();

private:
    // What is watched of one amplifier between its status blocks.
    struct TWatch {
        QString Address;
        std::array<int, 2> Channel{{-1, -1}}; // TChannelCondition, -1 before the first block
        int AmplifierTemperature = 0;         // 0 normal, 1 warning, 2 fault
        int PsuTemperature = 0;
        int MainsLow = 0;
        int MainsHigh = 0;
        bool SeenStatus = false;
        QByteArray Model; // the model of the last block, and its levels
        const TModelThresholds* Thresholds = nullptr;
        QSet<QString> Raised; // alarm keys raised and not cleared, also those of an earlier run
        THistoryMinute Minute{QString()};
    };

    TJournalEntry Base(const TModelChange& change, TJournalSeverity severity, const QString& event) const;
    TWatch& Watch(TDevice* device);
    void Forget(TDevice* device);
    void ForgetAll();

    void RecordLiveState(const TModelChange& change);
    void RecordStatus(TDevice* device);
    // What an entry made from a status block names: the device, its group, source amplifier.
    static TModelChange StatusChange(TDevice* device);
    void RecordSetting(const TModelChange& change);
    void RecordStructure(const TModelChange& change);
    // `reading` in `unit` is formatted only when the level changes: this runs for every block.
    void RecordThreshold(TDevice* device, TWatch& watch, int& level, int now, const char* what, int reading,
                         const char* unit, const char* condition);
    void Raise(TWatch& watch, const QString& key, const TJournalEntry& entry);
    void Clear(TWatch& watch, const QString& key);

    void ProjectLoaded(const QString& fileName, bool ok, const QString& error);

    TJournal& FJournal;
    TChangeFeed FFeed;
    QPointer<TGroups> FRegistry;
    QHash<TDevice*, TWatch> FWatches;
    // Settings being gathered, by object, field and source; written when they settle.
    std::map<QString, TJournalEntry> FSettling;
    QTimer* FSettleTimer;
    bool FLoading = false;
};
