#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

struct TModelChange;

// A model change as the control API's clients receive it.

// The topic subscribers match: "group/KEY" (the group's short name as the registry compares
// them), "device/ADDRESS" or "global".
QString ChangeTopic(const TModelChange& change);

// {"type": "change", "topic", "change" (what kind: "group_level", "device_mute", ...), "group",
// "device", "address", "field" ("volume_a", "mute", "short_name", "state", ...), "old", "new",
// "source" ("ui", "project", "remote", "schedule", "amplifier"), "client", "time"}; see docs/API.md.
QJsonObject ChangeEventJson(const TModelChange& change);

// The OSC feedback messages of a change: the address a client would write, with the new value
// (group levels, locks and mute, device channel mutes and state, global volume and mute). Other
// changes have none.
QList<QByteArray> OscFeedback(const TModelChange& change);
