#include "model/GroupUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupsUnit.h"
#include "model/Utils.h"
#include "model/logging.h"
#include "xml/LibXmlParser.h"

#include <QStandardItem>
#include <QStandardItemModel>

#include <cmath>
#include <optional>

TGroup::TGroup(TGroups* registry) : QObject(registry), FRegistry(registry) {
    Trace(QStringLiteral("TGroup.Create Begin"));
    registry->AddGroup(this);
    registry->IndexShortName(this, FShortName);
    FGroupNode = new QStandardItem(QStringLiteral("Invalid"));
    FGroupNode->setEditable(false);
    FGroupNode->setDragEnabled(false);
    FGroupNode->setData(QVariant::fromValue(static_cast<QObject*>(this)), TGroups::NodeObjectRole);
    registry->TreeNodes()->appendRow(FGroupNode);
    RefreshNodeText();
    Trace(QStringLiteral("TGroup.Create End"));
}

TGroup::~TGroup() {
    Trace(QStringLiteral("TGroup.Destroy Begin ") + FLongName);
    // Windows showing this group let go first, whichever group they show.
    emit FRegistry->GroupDestroying(this);
    while (!FDevices.isEmpty())
        delete FDevices.first();
    FRegistry->UnindexShortName(this, FShortName);
    FRegistry->RemoveGroup(this);
    if (FGroupNode) {
        FRegistry->TreeNodes()->removeRow(FGroupNode->row());
        FGroupNode = nullptr;
    }
    Trace(QStringLiteral("TGroup.Destroy End"));
}

void TGroup::AddMember(TDevice* device) {
    FDevices.append(device);
}

void TGroup::RemoveMember(TDevice* device) {
    FDevices.removeOne(device);
}

void TGroup::RefreshNodeText() {
    FGroupNode->setText(FLongName + QStringLiteral(" [") + FShortName + QStringLiteral("]"));
}

void TGroup::SetLongName(const QString& text, const TChangeSource& source) {
    const QString stored = text.left(TDevice::MaxTextLength);
    if (stored != FLongName) {
        const QString old = FLongName;
        FLongName = stored;
        RefreshNodeText();
        emit TextChanged(this, TGroupText::LongName, old, FLongName, source);
    }
}

void TGroup::SetShortName(const QString& text, const TChangeSource& source) {
    const QString stored = UpperCaseLetters(text.left(TDevice::MaxTextLength));
    if (stored != FShortName) {
        const QString old = FShortName;
        FRegistry->UnindexShortName(this, FShortName);
        FShortName = stored;
        FRegistry->IndexShortName(this, FShortName);
        for (TDevice* device : std::as_const(FDevices))
            device->SendGroupName(FShortName);
        RefreshNodeText();
        emit TextChanged(this, TGroupText::ShortName, old, FShortName, source);
    }
}

double& TGroup::LevelField(TLevel level) {
    return LevelSlot(level,
                     {&FVolume_A, &FVolume_B, &FSensitivity_A, &FSensitivity_B, &FLimiter_A, &FLimiter_B});
}

double TGroup::Level(TLevel level) const {
    return const_cast<TGroup*>(this)->LevelField(level);
}

void TGroup::SetLevel(TLevel level, double x, const TChangeSource& source) {
    double& field = LevelField(level);
    // Two NaNs are the same level too: setting one again changes nothing.
    if (x == field || (std::isnan(x) && std::isnan(field)))
        return;
    const double old = field;
    field = x;
    // The group's change is told first: a client following the group hears of it at once, not
    // after every member has stored and reconciled its own (a thousand members take milliseconds).
    emit LevelChanged(this, level, old, x, source);
    // A copy: a member's Reconcile never changes the list, but a listener might.
    const QList<TDevice*> members = FDevices;
    for (TDevice* device : members)
        device->SetLevel(level, x, source);
}

void TGroup::SetVolume_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Volume_A, x, source);
}
void TGroup::SetVolume_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Volume_B, x, source);
}
void TGroup::SetSensitivity_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Sensitivity_A, x, source);
}
void TGroup::SetSensitivity_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Sensitivity_B, x, source);
}
void TGroup::SetLimiter_A(double x, const TChangeSource& source) {
    SetLevel(TLevel::Limiter_A, x, source);
}
void TGroup::SetLimiter_B(double x, const TChangeSource& source) {
    SetLevel(TLevel::Limiter_B, x, source);
}

bool& TGroup::LockField(TLock lock) {
    switch (lock) {
    case TLock::Volume:
        return FVolume_Lock;
    case TLock::Sensitivity:
        return FSensitivity_Lock;
    case TLock::Limiter:
        break;
    }
    return FLimiter_Lock;
}

bool TGroup::Lock(TLock lock) const {
    return const_cast<TGroup*>(this)->LockField(lock);
}

void TGroup::SetLock(TLock lock, bool on, const TChangeSource& source) {
    bool& field = LockField(lock);
    if (field == on)
        return;
    field = on;
    emit LockChanged(this, lock, on, source);
}

void TGroup::SetVolume_Lock(bool on, const TChangeSource& source) {
    SetLock(TLock::Volume, on, source);
}
void TGroup::SetSensitivity_Lock(bool on, const TChangeSource& source) {
    SetLock(TLock::Sensitivity, on, source);
}
void TGroup::SetLimiter_Lock(bool on, const TChangeSource& source) {
    SetLock(TLock::Limiter, on, source);
}

void TGroup::SetMute(bool on, const TChangeSource& source) {
    if (FMute == on)
        return;
    FMute = on;
    emit MuteChanged(this, on, source);
}

void TGroup::AdoptDevice(TDevice* device, const TChangeSource& source) {
    if (!device)
        return;
    TGroup* old = device->FGroup;
    if (old == this && !FDevices.isEmpty() && FDevices.last() == device)
        return; // already the last member here: nothing moves
    if (old)
        old->RemoveMember(device);
    FDevices.append(device);
    device->FGroup = this;
    device->setParent(this);
    QStandardItem* node = device->Node();
    if (node) {
        QStandardItem* oldParent = node->parent();
        QList<QStandardItem*> row = oldParent ? oldParent->takeRow(node->row()) : QList<QStandardItem*>{node};
        FGroupNode->appendRow(row);
    }
    emit FRegistry->DeviceMoved(device, old, this, source);
}

void TGroup::LoadDevices(XmlReader& reader) {
    while (reader.Next()) {
        const XmlReader::TPartKind kind = reader.Kind();
        // The end tag of Groups also ends a Devices element that was never closed, so that the
        // loader sees it.
        if (kind == XmlReader::EndTag &&
            (reader.Name() == QLatin1String("Devices") || reader.Name() == QLatin1String("Groups")))
            return;
        if ((kind == XmlReader::StartTag || kind == XmlReader::EmptyElementTag) &&
            reader.Name() == QLatin1String("Device")) {
            const QString address = reader.Attribute(QStringLiteral("IPAddress"));
            const QString longName = reader.Attribute(QStringLiteral("LongName"));
            const QString shortName = reader.Attribute(QStringLiteral("ShortName"));
            // The mute flags are read before the device exists so that its first
            // reconciliation already wants them: a channel saved muted is never sent an unmute
            // on opening. A flag that cannot be read still leaves the device in the group (with
            // the flags read before it) and then ends the load with the conversion error.
            const QString muteAText = reader.Attribute(QStringLiteral("Mute_CHA"));
            const QString muteBText = reader.Attribute(QStringLiteral("Mute_CHB"));
            const std::optional<bool> muteA = TryTextToBool(muteAText);
            const std::optional<bool> muteB = muteA ? TryTextToBool(muteBText) : std::nullopt;
            new TDevice(this, address, longName, shortName, muteA.value_or(false), muteB.value_or(false),
                        TChangeSource::File());
            if (!muteA)
                TextToBool(muteAText);
            if (!muteB)
                TextToBool(muteBText);
        }
    }
}
