#pragma once

// A journal in a temporary directory with a clock the test sets, and what tests of the journal
// share: entries made in one line, a direct look at the database, a tmpfs to make read-only or
// full.

#include "journal/Journal.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalReader.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/mount.h>

// 2024-03-01T12:00:00Z, a fixed "now" for tests.
constexpr qint64 kJournalTestStartMs = 1709294400000LL;

struct TJournalFixture {
    TJournalFixture() : Clock(std::make_shared<std::atomic<qint64>>(kJournalTestStartMs)) {}

    QString Path() const { return Dir.filePath(QStringLiteral("journal.sqlite")); }

    // Quick to commit, retry and trim, on the test's clock.
    TJournalOptions Options() const {
        TJournalOptions o;
        o.Path = Path();
        o.Clock = [clock = Clock] { return clock->load(); };
        o.CommitDelayMs = 10;
        o.RetryMs = 50;
        o.TrimIntervalMs = 20;
        return o;
    }
    qint64 Now() const { return Clock->load(); }
    void Advance(qint64 ms) { Clock->fetch_add(ms); }

    static TJournalEntry Entry(const QString& what, TJournalSeverity severity = TJournalSeverity::Info,
                               qint64 timeMs = kJournalTestStartMs, const QString& address = QString()) {
        TJournalEntry e;
        e.TimeMs = timeMs;
        e.Severity = severity;
        e.Event = JournalEvent::Setting;
        e.Address = address;
        e.What = what;
        e.Source = TJournalSource::UserInterface;
        return e;
    }
    // An amplifier's state change, the kind that folds.
    static TJournalEntry StateChange(const QString& address, const QString& from, const QString& to,
                                     qint64 timeMs) {
        TJournalEntry e =
            Entry(to == QLatin1String("off-line") ? QStringLiteral("Off-line") : QStringLiteral("On-line"),
                  to == QLatin1String("off-line") ? TJournalSeverity::Fault : TJournalSeverity::Info, timeMs,
                  address);
        e.Event = JournalEvent::State;
        e.OldValue = from;
        e.NewValue = to;
        e.Source = TJournalSource::Amplifier;
        return e;
    }

    // One number from the journal at `path`, read with a connection of its own.
    static qint64 Scalar(const QString& path, const QString& sql) {
        TJournalConnection connection(path, QStringLiteral("test"));
        if (connection.Open(false) != TJournalFailure::None)
            return -1;
        QSqlQuery q(connection.Database());
        if (!q.exec(sql) || !q.next())
            return -1;
        return q.value(0).toLongLong();
    }
    qint64 Scalar(const QString& sql) const { return Scalar(Path(), sql); }

    QTemporaryDir Dir;
    std::shared_ptr<std::atomic<qint64>> Clock;
};

// A tmpfs on a directory, unmounted when the object goes. Needs root (CAP_SYS_ADMIN).
class TTmpfs {
public:
    // Mounts a tmpfs of `sizeKiB` on `dir`; Mounted() says whether it worked.
    TTmpfs(const QString& dir, int sizeKiB) : FDir(QFile::encodeName(dir)) {
        QDir().mkpath(dir);
        const QByteArray options = "size=" + QByteArray::number(sizeKiB) + "k,mode=0755";
        FMounted = ::mount("tmpfs", FDir.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~TTmpfs() {
        if (FMounted && ::umount2(FDir.constData(), MNT_DETACH) != 0)
            qWarning("could not unmount %s: %s", FDir.constData(), std::strerror(errno));
    }
    TTmpfs(const TTmpfs&) = delete;
    TTmpfs& operator=(const TTmpfs&) = delete;

    bool Mounted() const { return FMounted; }
    bool SetReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", FDir.constData(), "tmpfs", flags, nullptr) == 0;
    }

private:
    QByteArray FDir;
    bool FMounted = false;
};
