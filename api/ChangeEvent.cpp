#include "api/ChangeEvent.h"

#include "api/ApiModel.h"
#include "api/OscDispatch.h"
#include "model/ChangeFeed.h"
#include "model/GroupsUnit.h"

#include <QJsonValue>

namespace {
QString KindWord(TChangeKind kind) {
    switch (kind) {
    case TChangeKind::DeviceLevel:
        return QStringLiteral("device_level");
    case TChangeKind::DeviceMute:
        return QStringLiteral("device_mute");
    case TChangeKind::DeviceText:
        return QStringLiteral("device_text");
    case TChangeKind::DeviceLiveState:
        return QStringLiteral("device_state");
    case TChangeKind::DeviceStatus:
        return QStringLiteral("device_status");
    case TChangeKind::GroupLevel:
        return QStringLiteral("group_level");
    case TChangeKind::GroupLock:
        return QStringLiteral("group_lock");
    case TChangeKind::GroupMute:
        return QStringLiteral("group_mute");
    case TChangeKind::GroupText:
        return QStringLiteral("group_text");
    case TChangeKind::GlobalVolume:
        return QStringLiteral("global_volume");
    case TChangeKind::GlobalMute:
        return QStringLiteral("global_mute");
    case TChangeKind::GroupAdded:
        return QStringLiteral("group_added");
    case TChangeKind::GroupRemoved:
        return QStringLiteral("group_removed");
    case TChangeKind::DeviceAdded:
        return QStringLiteral("device_added");
    case TChangeKind::DeviceRemoved:
        return QStringLiteral("device_removed");
    case TChangeKind::DeviceMoved:
        return QStringLiteral("device_moved");
    }
    return QString();
}

// The model's field names as the API's JSON names them: "Volume_A" volume_a, "Mute_CHB" mute_b,
// "Volume_Lock" volume_lock, "LongName" long_name, "IPAddress" address, "LiveState" state.
QString FieldWord(const QString& field) {
    if (field.isEmpty())
        return field;
    if (field == QLatin1String("Mute_CHA"))
        return QStringLiteral("mute_a");
    if (field == QLatin1String("Mute_CHB"))
        return QStringLiteral("mute_b");
    if (field == QLatin1String("LongName"))
        return QStringLiteral("long_name");
    if (field == QLatin1String("ShortName"))
        return QStringLiteral("short_name");
    if (field == QLatin1String("IPAddress"))
        return QStringLiteral("address");
    if (field == QLatin1String("LiveState"))
        return QStringLiteral("state");
    return field.toLower();
}

QJsonValue Value(const QVariant& value) {
    if (!value.isValid())
        return QJsonValue();
    if (value.metaType() == QMetaType::fromType<TLiveState>())
        return TApiModel::StateWord(value.value<TLiveState>());
    return QJsonValue::fromVariant(value);
}

bool IsDeviceChange(TChangeKind kind) {
    return kind == TChangeKind::DeviceLevel || kind == TChangeKind::DeviceMute ||
           kind == TChangeKind::DeviceText || kind == TChangeKind::DeviceLiveState ||
           kind == TChangeKind::DeviceStatus || kind == TChangeKind::DeviceAdded ||
           kind == TChangeKind::DeviceRemoved || kind == TChangeKind::DeviceMoved;
}
} // namespace

QString ChangeTopic(const TModelChange& change) {
    if (IsDeviceChange(change.Kind))
        return QStringLiteral("device/") + change.DeviceAddress;
    if (change.Kind == TChangeKind::GlobalVolume || change.Kind == TChangeKind::GlobalMute)
        return QStringLiteral("global");
    return QStringLiteral("group/") + ShortNameKey(change.GroupShortName);
}

QJsonObject ChangeEventJson(const TModelChange& change) {
    const QString source = change.Source.Text();
    const qsizetype colon = source.indexOf(QLatin1Char(':'));
    QJsonObject event{{QStringLiteral("type"), QStringLiteral("change")},
                      {QStringLiteral("topic"), ChangeTopic(change)},
                      {QStringLiteral("change"), KindWord(change.Kind)},
                      {QStringLiteral("source"), colon < 0 ? source : source.left(colon)},
                      {QStringLiteral("client"), change.Source.Client},
                      {QStringLiteral("time"), change.Utc.toUTC().toString(Qt::ISODateWithMs)}};
    if (!change.GroupShortName.isEmpty())
        event.insert(QStringLiteral("group"), change.GroupShortName);
    if (IsDeviceChange(change.Kind)) {
        event.insert(QStringLiteral("address"), change.DeviceAddress);
        event.insert(QStringLiteral("device"), change.DeviceShortName);
    }
    if (!change.Field.isEmpty()) {
        event.insert(QStringLiteral("field"), FieldWord(change.Field));
        event.insert(QStringLiteral("old"), Value(change.Old));
        event.insert(QStringLiteral("new"), Value(change.New));
    }
    return event;
}

QList<QByteArray> OscFeedback(const TModelChange& change) {
    const QString prefix = QString::fromLatin1(TOscDispatcher::Prefix);
    const QString field = FieldWord(change.Field);
    switch (change.Kind) {
    case TChangeKind::GroupLevel:
        return {TOscDispatcher::FloatMessage(
            prefix + QStringLiteral("group/%1/%2").arg(change.GroupShortName, field), change.New.toDouble())};
    case TChangeKind::GroupLock:
    case TChangeKind::GroupMute:
        return {TOscDispatcher::IntMessage(
            prefix + QStringLiteral("group/%1/%2").arg(change.GroupShortName, field),
            change.New.toBool() ? 1 : 0)};
    case TChangeKind::DeviceMute:
        return {TOscDispatcher::IntMessage(
            prefix + QStringLiteral("device/%1/%2").arg(change.DeviceAddress, field),
            change.New.toBool() ? 1 : 0)};
    case TChangeKind::DeviceLiveState:
        return {TOscDispatcher::StringMessage(prefix +
                                                  QStringLiteral("device/%1/state").arg(change.DeviceAddress),
                                              TApiModel::StateWord(change.New.value<TLiveState>()))};
    case TChangeKind::GlobalVolume:
        return {
            TOscDispatcher::FloatMessage(prefix + QStringLiteral("global/volume"), change.New.toDouble())};
    case TChangeKind::GlobalMute:
        return {
            TOscDispatcher::IntMessage(prefix + QStringLiteral("global/mute"), change.New.toBool() ? 1 : 0)};
    default:
        return {};
    }
}
