#include "model/GroupsUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/Utils.h"
#include "model/logging.h"
#include "xml/LibXmlParser.h"

#include <QStandardItemModel>

#include <algorithm>

QString ShortNameKey(const QString& shortName) {
    return UpperCaseLetters(WithoutTrailingBlanks(shortName.left(TDevice::MaxTextLength)));
}

TGroups::TGroups(QObject* owner) : QObject(owner), FTreeNodes(new QStandardItemModel(this)) {
    Trace(QStringLiteral("TGroups.Create"));
}

TGroups::~TGroups() {
    Trace(QStringLiteral("TGroups.Destroy Begin"));
    FClosing = true; // no index upkeep while every group goes
    FShortNames.clear();
    while (!FGroups.isEmpty())
        delete FGroups.first();
    delete FTreeNodes;
    FTreeNodes = nullptr;
    Trace(QStringLiteral("TGroups.Destroy End"));
}

void TGroups::SetVolume(double x, const TChangeSource& source) {
    if (x != FVolume) {
        const double old = FVolume;
        FVolume = x;
        emit VolumeChanged(old, x, source);
    }
}

void TGroups::SetMute(bool flag, const TChangeSource& source) {
    if (flag != FMute) {
        FMute = flag;
        emit MuteChanged(flag, source);
    }
}

TGroup* TGroups::FindGroup(const QString& shortName) const {
    return FShortNames.value(ShortNameKey(shortName)).First;
}

void TGroups::IndexShortName(TGroup* group, const QString& shortName) {
    if (FClosing)
        return;
    TShortNameEntry& entry = FShortNames[ShortNameKey(shortName)];
    // A group just created is the last one and so never the first of its key; only a rename can
    // bring an earlier group to a key already held.
    if (entry.Count == 0 ||
        (FGroups.last() != group && FGroups.indexOf(group) < FGroups.indexOf(entry.First)))
        entry.First = group;
    ++entry.Count;
}

void TGroups::UnindexShortName(TGroup* group, const QString& shortName) {
    if (FClosing)
        return;
    const QString key = ShortNameKey(shortName);
    const auto found = FShortNames.find(key);
    if (found == FShortNames.end())
        return;
    if (--found->Count == 0) {
        FShortNames.erase(found);
        return;
    }
    if (found->First != group)
        return;
    // Several groups held the key: the next one in registry order takes the lead.
    const auto next = std::find_if(FGroups.cbegin(), FGroups.cend(), [&](const TGroup* other) {
        return other != group && ShortNameKey(other->ShortName()) == key;
    });
    found->First = next == FGroups.cend() ? nullptr : *next;
}

TGroup* TGroups::FindOrAddGroup(const QString& longName, const QString& shortName,
                                const TChangeSource& source) {
    if (TGroup* found = FindGroup(shortName))
        return found;
    auto* group = new TGroup(this);
    group->SetLongName(longName, source);
    group->SetShortName(shortName, source);
    emit GroupAdded(group, source);
    return group;
}

void TGroups::DeleteGroup(TGroup* group, const TChangeSource& source) {
    if (!group || group->Registry() != this)
        return;
    for (TDevice* device : group->Devices())
        emit DeviceRemoved(device, source);
    emit GroupRemoved(group, source);
    delete group;
}

void TGroups::DeleteDevice(TDevice* device, const TChangeSource& source) {
    if (!device || !device->Group() || device->Group()->Registry() != this)
        return;
    emit DeviceRemoved(device, source);
    delete device;
}

void TGroups::ReconcileAll() {
    for (TGroup* group : std::as_const(FGroups))
        for (TDevice* device : group->Devices())
            device->Reconcile();
}

TGroup* TGroups::NodeGroup(QObject* nodeObject) {
    return qobject_cast<TGroup*>(nodeObject);
}

TDevice* TGroups::NodeDevice(QObject* nodeObject) {
    return qobject_cast<TDevice*>(nodeObject);
}

bool TGroups::LoadGroups(XmlReader& reader) {
    TGroup* current = nullptr;
    while (reader.Next()) {
        const XmlReader::TPartKind kind = reader.Kind();
        if (kind == XmlReader::StartTag || kind == XmlReader::EmptyElementTag) {
            const QString name = reader.Name();
            if (name == QLatin1String("Group")) {
                const TChangeSource file = TChangeSource::File();
                const auto level = [&reader](const char* attribute) {
                    return StrToFloat(reader.Attribute(QLatin1String(attribute)));
                };
                const auto flag = [&reader](const char* attribute) {
                    return TextToBool(reader.Attribute(QLatin1String(attribute)));
                };
                current = FindOrAddGroup(reader.Attribute(QStringLiteral("LongName")),
                                         reader.Attribute(QStringLiteral("ShortName")), file);
                current->SetVolume_A(level("Volume_A"), file);
                current->SetVolume_B(level("Volume_B"), file);
                current->SetSensitivity_A(level("Sensitivity_A"), file);
                current->SetSensitivity_B(level("Sensitivity_B"), file);
                current->SetLimiter_A(level("Limiter_A"), file);
                current->SetLimiter_B(level("Limiter_B"), file);
                current->SetVolume_Lock(flag("Volume_Lock"), file);
                current->SetSensitivity_Lock(flag("Sensitivity_Lock"), file);
                current->SetLimiter_Lock(flag("Limiter_Lock"), file);
                current->SetMute(flag("Mute"), file);
            } else if (name == QLatin1String("Devices") && current && kind == XmlReader::StartTag) {
                current->LoadDevices(reader);
                // A Devices element left open ends at the end tag of Groups.
                if (reader.Kind() == XmlReader::EndTag && reader.Name() == QLatin1String("Groups"))
                    return true;
            }
            // A Devices element before any Group has no group to receive its devices: its
            // Device elements are passed over like any other part.
        } else if (kind == XmlReader::EndTag && reader.Name() == QLatin1String("Groups")) {
            return true;
        }
    }
    return false;
}
