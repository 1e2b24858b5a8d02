#pragma once

#include <QMetaType>
#include <QString>

// Who made a change to the model. Every setter that a user, a project file or a client can drive
// takes one as its last parameter (the user interface when none is given); a group hands its own
// on to its members. Changes the amplifier causes (on-line state, a status block, a limiter lowered
// to its model's maximum) carry Amplifier.
enum class TSourceKind { UserInterface, ProjectFile, RemoteClient, Schedule, Amplifier };

struct TChangeSource {
    TSourceKind Kind = TSourceKind::UserInterface;
    QString Client; // the remote client's (its token's) name; empty for every other kind

    static TChangeSource Ui() { return {}; }
    static TChangeSource File() { return {TSourceKind::ProjectFile, QString()}; }
    static TChangeSource Remote(const QString& name) { return {TSourceKind::RemoteClient, name}; }
    static TChangeSource Schedule() { return {TSourceKind::Schedule, QString()}; }
    static TChangeSource Amplifier() { return {TSourceKind::Amplifier, QString()}; }

    // "ui", "project", "remote:NAME", "schedule", "amplifier".
    QString Text() const;

    bool operator==(const TChangeSource& other) const { return Kind == other.Kind && Client == other.Client; }
    bool operator!=(const TChangeSource& other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(TChangeSource)
