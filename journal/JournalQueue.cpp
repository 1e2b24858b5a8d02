#include "journal/JournalQueue.h"

#include <algorithm>

namespace {
constexpr qint64 kMinuteMs = 60 * 1000;
// Folding state for keys not seen for this long is dropped.
constexpr int kBucketPruneSize = 4096;

qint64 MinuteOf(qint64 ms) {
    return ms >= 0 ? ms / kMinuteMs : (ms - kMinuteMs + 1) / kMinuteMs;
}
} // namespace

void TJournalQueue::Lose(qint64 timeMs) {
    if (FLoss.Count == 0 || timeMs < FLoss.FirstMs)
        FLoss.FirstMs = timeMs;
    FLoss.LastMs = std::max(FLoss.LastMs, timeMs);
    ++FLoss.Count;
}

TJournalOp* TJournalQueue::Mergeable(quint64 seq) {
    if (FOps.empty() || seq < FOps.front().Seq)
        return nullptr;
    const std::size_t index = std::size_t(seq - FOps.front().Seq);
    if (index < FTaken || index >= FOps.size())
        return nullptr;
    return &FOps[index];
}

void TJournalQueue::PruneBuckets(qint64 minute) {
    if (FBuckets.size() < kBucketPruneSize)
        return;
    for (auto it = FBuckets.begin(); it != FBuckets.end();) {
        if (it->Minute < minute - 1)
            it = FBuckets.erase(it);
        else
            ++it;
    }
}

bool TJournalQueue::PushEntry(const TJournalEntry& entry) {
    if (!IsFoldedEvent(entry)) {
        if (Full()) {
            Lose(entry.TimeMs);
            return false;
        }
        FOps.push_back(TJournalOp{FNextSeq++, TInsertOp{entry}});
        return true;
    }

    const qint64 minute = MinuteOf(entry.TimeMs);
    const QString key = FoldKey(entry);
    const qint64 last = entry.EffectiveLastTimeMs();
    auto bucket = FBuckets.find(key);
    if (bucket != FBuckets.end() && bucket->Minute == minute) {
        if (TJournalOp* op = Mergeable(bucket->LastSeq)) {
            TJournalEntry& target = std::holds_alternative<TInsertOp>(op->Op)
                                        ? std::get<TInsertOp>(op->Op).Entry
                                        : std::get<TRepeatOp>(op->Op).Entry;
            target.RepeatCount += entry.RepeatCount;
            target.LastTimeMs = std::max(target.EffectiveLastTimeMs(), last);
            return true;
        }
        if (Full()) {
            Lose(entry.TimeMs);
            return false;
        }
        TJournalEntry repeat = entry;
        repeat.LastTimeMs = last;
        FOps.push_back(TJournalOp{FNextSeq, TRepeatOp{bucket->InsertSeq, repeat}});
        bucket->LastSeq = FNextSeq++;
        return true;
    }

    if (Full()) {
        Lose(entry.TimeMs);
        return false;
    }
    PruneBuckets(minute);
    FBuckets.insert(key, TBucket{minute, FNextSeq, FNextSeq});
    FOps.push_back(TJournalOp{FNextSeq++, TInsertOp{entry}});
    return true;
}

bool TJournalQueue::PushSample(const THistorySample& sample) {
    if (Full()) {
        Lose(sample.TimeMs);
        return false;
    }
    FOps.push_back(TJournalOp{FNextSeq++, sample});
    return true;
}

void TJournalQueue::PushAlarm(const TAlarm& alarm) {
    const auto it = FAlarmSeq.constFind(alarm.Id);
    if (it != FAlarmSeq.constEnd()) {
        if (TJournalOp* op = Mergeable(*it)) {
            std::get<TAlarmOp>(op->Op).Alarm = alarm;
            return;
        }
    }
    FAlarmSeq.insert(alarm.Id, FNextSeq);
    FOps.push_back(TJournalOp{FNextSeq++, TAlarmOp{alarm}});
}

std::vector<TJournalOp> TJournalQueue::Take(std::size_t max) {
    FTaken = std::min(max, FOps.size());
    return std::vector<TJournalOp>(FOps.begin(), FOps.begin() + std::ptrdiff_t(FTaken));
}

void TJournalQueue::Commit() {
    for (std::size_t i = 0; i < FTaken; ++i) {
        if (const auto* alarm = std::get_if<TAlarmOp>(&FOps.front().Op)) {
            const auto it = FAlarmSeq.find(alarm->Alarm.Id);
            if (it != FAlarmSeq.end() && *it == FOps.front().Seq)
                FAlarmSeq.erase(it);
        }
        FCommittedSeq = FOps.front().Seq;
        FOps.pop_front();
    }
    FTaken = 0;
}

void TJournalQueue::RestoreLoss(const TLoss& loss) {
    if (loss.Count == 0)
        return;
    if (FLoss.Count == 0) {
        FLoss = loss;
        return;
    }
    FLoss.FirstMs = std::min(FLoss.FirstMs, loss.FirstMs);
    FLoss.LastMs = std::max(FLoss.LastMs, loss.LastMs);
    FLoss.Count += loss.Count;
}

void TJournalQueue::Abort() {
    FTaken = 0;
}

TJournalQueue::TLoss TJournalQueue::TakeLoss() {
    const TLoss loss = FLoss;
    FLoss = TLoss();
    return loss;
}
