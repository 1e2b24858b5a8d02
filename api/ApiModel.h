#pragma once

#include "api/ApiJournal.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

class TDevice;
enum class TLiveState;
class TGroup;
class TGroups;

// Everything the control API and OSC read from and write to the model, in one place: the JSON
// forms of the project, groups, devices and global settings, and the writes, which go through
// the model's setters only, as the windows' do, with the client's name as the change's source
// (TChangeSource::Remote). A write checks the whole request before it
// changes anything: a refused request (EApiError 400 or 409) leaves the model as it was.
class TApiModel {
public:
    // The registry in use at the moment of each call: the program replaces it on New and Open.
    using TRegistryProvider = std::function<TGroups*()>;
    explicit TApiModel(TRegistryProvider registry) : FRegistry(std::move(registry)) {}

    // Level ranges, as the group panel's faders and the global fader have them.
    static constexpr double MinLevel = -95.5;
    static constexpr double MaxLevel = 0.0;
    static constexpr double MinLimiter = 10.0;
    static constexpr double MaxLimiter = 170.0;
    static constexpr double MinGlobalVolume = -96.0;
    static constexpr double MaxGlobalVolume = 96.0;

    // Raises EApiError 404 when there is none (the program between two projects).
    TGroups& Registry() const;

    QJsonObject ProjectJson() const;
    // The six levels, three locks, mute and names of a group, and its devices' addresses (or,
    // with `deviceSummaries`, address, names and state of each).
    QJsonObject GroupJson(const TGroup& group, bool deviceSummaries = false) const;
    QJsonArray DevicesJson() const;
    // What the device wants and what the amplifier holds, its state, readings and mutes.
    QJsonObject DeviceJson(const TDevice& device) const;
    QJsonObject GlobalJson() const;
    // The readings of the last status block, or null before the first.
    QJsonValue ReadingsJson(const TDevice& device) const;
    // Address, state and readings of every device that stored a status block since the last
    // call with the same `seen` (device address: status blocks counted then).
    QJsonArray MetersSince(QHash<QString, quint64>& seen) const;

    // The first group whose short name matches (as the registry compares them), the first device
    // with this address text; EApiError 404 when there is none.
    TGroup& FindGroup(const QString& shortName) const;
    TDevice& FindDevice(const QString& address) const;

    // A subset of volume_a, volume_b, volume (both), sensitivity_*, limiter_*, the three *_lock
    // flags and mute. Levels are clamped like the faders; a lock is honoured as the group panel
    // honours it: a channel set alone takes its partner along, and turning a lock on brings B to
    // A. Both channels of a locked pair given different values is a conflict (409).
    void WriteGroup(TGroup& group, const QJsonObject& fields, const QString& client) const;
    // The same level names with relative steps in dB or V, clamped the same way.
    void StepGroup(TGroup& group, const QJsonObject& steps, const QString& client) const;
    // mute_a and mute_b, the device's own channel mutes.
    void WriteDevice(TDevice& device, const QJsonObject& fields, const QString& client) const;
    // volume (dB, clamped to the global fader's range) and mute.
    void WriteGlobal(const QJsonObject& fields, const QString& client) const;
    // volume, a relative step.
    void StepGlobal(const QJsonObject& steps, const QString& client) const;

    // The alarms and the journal (none until SetJournal).
    TApiJournal& Journal() const { return FJournal; }

    // The six levels' JSON names in TLevel order: "volume_a", "volume_b", "sensitivity_a", ...
    static const QStringList& LevelWords();
    // The word for a device's live state: "nostatus", "online", "fault", "noanswer", "offline".
    static QString StateWord(const TDevice& device);
    static QString StateWord(TLiveState state);

private:
    TRegistryProvider FRegistry;
    mutable TApiJournal FJournal;
};
