#pragma once

#include "journal/Alarm.h"
#include "journal/History.h"
#include "journal/JournalEntry.h"

#include <QHash>

#include <cstddef>
#include <deque>
#include <variant>
#include <vector>

// A new row.
struct TInsertOp {
    TJournalEntry Entry;
};
// Repeats of a folded event added to the row that TargetSeq inserted: RepeatCount more, the last
// at LastTimeMs. Carries the whole entry, so that the writer can insert it afresh when that row
// is gone (a journal started anew).
struct TRepeatOp {
    quint64 TargetSeq = 0;
    TJournalEntry Entry;
};
// An alarm's whole state, written over its previous one.
struct TAlarmOp {
    TAlarm Alarm;
};

struct TJournalOp {
    quint64 Seq = 0;
    std::variant<TInsertOp, TRepeatOp, THistorySample, TAlarmOp> Op;
};

// What the journal has yet to write, in order, and where flapping is folded: a folded event
// (IsFoldedEvent) with the same FoldKey in the same minute as an earlier one becomes a repeat of
// that one's row instead of a row of its own. Repeats merge into what is still queued, so
// neither the queue nor the table grows with a flapping amplifier.
//
// Not thread-safe: the journal holds its lock around every call. The writer takes a batch from
// the front, writes it, then commits (the batch leaves) or aborts (it stays, to be written
// later); while taken, a batch is not merged into.
//
// Entries and history samples beyond the capacity are lost and counted; alarm states are never
// lost (there is at most one queued per alarm).
class TJournalQueue {
public:
    explicit TJournalQueue(std::size_t capacity) : FCapacity(capacity) {}

    // False when the queue is full and the entry is lost.
    bool PushEntry(const TJournalEntry& entry);
    bool PushSample(const THistorySample& sample);
    void PushAlarm(const TAlarm& alarm);

    // Up to `max` operations from the front, which stay queued until Commit or Abort.
    std::vector<TJournalOp> Take(std::size_t max);
    void Commit();
    void Abort();

    std::size_t Size() const { return FOps.size(); }
    bool Empty() const { return FOps.empty(); }
    std::size_t Capacity() const { return FCapacity; }
    // The sequence number of the latest op queued, and of the latest one committed: everything
    // queued up to a point is written once CommittedSeq reaches that point's LastSeq.
    quint64 LastSeq() const { return FNextSeq - 1; }
    quint64 CommittedSeq() const { return FCommittedSeq; }

    // Entries and samples lost since the last call, and the span of their times; resets them.
    struct TLoss {
        quint64 Count = 0;
        qint64 FirstMs = 0;
        qint64 LastMs = 0;
    };
    TLoss TakeLoss();
    // Puts back a loss taken for a write that failed.
    void RestoreLoss(const TLoss& loss);

private:
    struct TBucket {
        qint64 Minute = 0;
        quint64 InsertSeq = 0; // the op that made the row
        quint64 LastSeq = 0;   // the latest op for this key (the insert or a repeat)
    };

    bool Full() const { return FOps.size() >= FCapacity; }
    void Lose(qint64 timeMs);
    // The queued op with sequence number `seq`, when it is still queued and not taken.
    TJournalOp* Mergeable(quint64 seq);
    void PruneBuckets(qint64 minute);

    std::size_t FCapacity;
    std::deque<TJournalOp> FOps;
    std::size_t FTaken = 0;
    quint64 FNextSeq = 1;
    quint64 FCommittedSeq = 0;
    QHash<QString, TBucket> FBuckets;
    QHash<QString, quint64> FAlarmSeq; // alarm id -> its queued op
    TLoss FLoss;
};
