#pragma once

#include "journal/Alarm.h"
#include "journal/History.h"
#include "journal/JournalEntry.h"
#include "journal/JournalOptions.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

// The journal's writer thread, "journal-writer", with its own connection: it takes what the
// callers queued and writes it in batched transactions. When the file is damaged it moves it
// aside and starts a new one; when it cannot write it holds what comes (up to the capacity) and
// tries again, then journals the gap. Callers never wait for the disk.
class TJournalWriter {
public:
    // Called on the writer thread.
    struct TEvents {
        // Once, after the first attempt to open: the alarms not yet closed, and the latest
        // closed ones (empty when the journal could not be opened).
        std::function<void(std::vector<TAlarm>)> Opened;
        // The journal cannot be written (once, until it can again), or was moved aside.
        std::function<void(const QString& message)> Problem;
        std::function<void()> Resumed;
        // A batch with new rows was committed.
        std::function<void()> Written;
    };

    TJournalWriter(const TJournalOptions& options, TEvents events);
    // Writes what it still can (one attempt), then ends the thread.
    ~TJournalWriter();
    TJournalWriter(const TJournalWriter&) = delete;
    TJournalWriter& operator=(const TJournalWriter&) = delete;

    // Any thread; they only queue.
    bool PushEntry(const TJournalEntry& entry);
    bool PushSample(const THistorySample& sample);
    void PushAlarm(const TAlarm& alarm);
    // A reader met damage the writer may not touch: the file is moved aside and started anew.
    void ReportDamage(const QString& message);

    // Waits until everything queued before the call is written, at most `timeoutMs`. False at
    // the timeout, or at once while the journal cannot be written. For tests, exports and the
    // end of the program; never on the user-interface thread while it drives amplifiers.
    bool Flush(int timeoutMs);

    struct TStats {
        std::size_t Held = 0; // queued, not yet written
        quint64 Lost = 0;     // lost because the queue was full, since the start
        quint64 Written = 0;  // operations written since the start
        bool Failing = false; // the journal cannot be written right now
        QString Path;         // the file written (the same path after a move aside)
    };
    TStats Stats() const;

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};
