#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <optional>

// How serious an entry is. The numbers are stored in the journal database: never renumber.
enum class TJournalSeverity : int { Fault = 0, Warning = 1, Info = 2, UserAction = 3 };
constexpr int kJournalSeverityCount = 4;

// Who made the change an entry records. The numbers are stored: never renumber.
enum class TJournalSource : int {
    Amplifier = 0,     // the amplifier itself reported it (state, temperature, mains)
    UserInterface = 1, // an operator in the windows
    ProjectFile = 2,   // a project being opened
    RemoteClient = 3,  // a client of the control API or OSC, named in Client
    Schedule = 4,
    Program = 5, // the program itself: start, stop, the journal and the alarm command
};
constexpr int kJournalSourceCount = 6;

// The kinds of event, stored as text in the Event field. State changes and threshold crossings
// are the ones that can flap: the journal folds their repeats within a minute into one row.
namespace JournalEvent {
inline const QString State = QStringLiteral("state");
inline const QString Threshold = QStringLiteral("threshold");
inline const QString Setting = QStringLiteral("setting");
inline const QString Mute = QStringLiteral("mute");
inline const QString Name = QStringLiteral("name");
inline const QString Address = QStringLiteral("address");
inline const QString Project = QStringLiteral("project");
inline const QString ProgramStart = QStringLiteral("program-start");
inline const QString ProgramStop = QStringLiteral("program-stop");
inline const QString Alarm = QStringLiteral("alarm");
inline const QString Hook = QStringLiteral("hook");
inline const QString Journal = QStringLiteral("journal");
} // namespace JournalEvent

// One thing that happened. Times are UTC milliseconds since the epoch.
struct TJournalEntry {
    qint64 Id = 0;         // the row's id once stored; 0 before
    qint64 TimeMs = 0;     // when it happened (the first time, for a folded repeat)
    qint64 LastTimeMs = 0; // the last repeat; equal to TimeMs for a single event (0 means TimeMs)
    TJournalSeverity Severity = TJournalSeverity::Info;
    QString Event; // one of JournalEvent
    QString Address;
    QString ShortName;
    QString LongName;
    QString Group;
    QString Channel; // "A", "B", or empty where no channel applies
    QString What;    // the readable line: "Off-line", "Volume A", "Project opened"
    QString OldValue;
    QString NewValue;
    TJournalSource Source = TJournalSource::Program;
    QString Client; // the remote client's name when Source is RemoteClient
    int RepeatCount = 1;

    qint64 EffectiveLastTimeMs() const { return LastTimeMs > 0 ? LastTimeMs : TimeMs; }
};

// Whether repeats of `entry` within one minute are folded into one row.
bool IsFoldedEvent(const TJournalEntry& entry);
// What makes two folded events "the same": amplifier, kind, channel and the state pair.
QString FoldKey(const TJournalEntry& entry);

// Text forms, as shown, exported and given to the alarm command: "fault", "warning", "info",
// "user action"; "amplifier", "user interface", "project file", "remote client", "schedule",
// "program".
QString SeverityName(TJournalSeverity severity);
QString SourceName(TJournalSource source);
std::optional<TJournalSeverity> SeverityFromName(const QString& name);
std::optional<TJournalSource> SourceFromName(const QString& name);

// ISO-8601 UTC with milliseconds: "2024-05-01T20:15:03.250Z"; empty for 0.
QString IsoTime(qint64 ms);
// Parses an ISO-8601 time ("Z", an offset, or none for UTC); nullopt when it is none.
std::optional<qint64> ParseIsoTime(const QString& text);

// The entry as a JSON object (the export's and the alarm command's form) and back.
QJsonObject EntryToJson(const TJournalEntry& entry);
TJournalEntry EntryFromJson(const QJsonObject& object);

// The system clock, UTC milliseconds since the epoch.
qint64 SystemClockMs();
