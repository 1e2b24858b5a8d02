#include "model/GroupUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupsUnit.h"
#include "model/Utils.h"
#include "model/logging.h"
#include "xml/LibXmlParser.h"

#include <QStandardItem>
#include <QStandardItemModel>

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

void TGroup::SetLongName(const QString& text) {
    if (text.left(TDevice::MaxTextLength) != FLongName)
        FLongName = text.left(TDevice::MaxTextLength);
    RefreshNodeText();
}

void TGroup::SetShortName(const QString& text) {
    if (text.left(TDevice::MaxTextLength) != FShortName) {
        FRegistry->UnindexShortName(this, FShortName);
        FShortName = UpperCaseLetters(text.left(TDevice::MaxTextLength));
        FRegistry->IndexShortName(this, FShortName);
        for (TDevice* device : std::as_const(FDevices))
            device->SendGroupName(FShortName);
    }
    RefreshNodeText();
}

void TGroup::SetLevel(double& field, double x, void (TDevice::*setter)(double)) {
    if (x == field)
        return;
    field = x;
    // A copy: a member's Reconcile never changes the list, but a copy costs nothing here.
    const QList<TDevice*> members = FDevices;
    for (TDevice* device : members)
        (device->*setter)(field);
}

void TGroup::SetVolume_A(double x) {
    SetLevel(FVolume_A, x, &TDevice::SetVolume_A);
}
void TGroup::SetVolume_B(double x) {
    SetLevel(FVolume_B, x, &TDevice::SetVolume_B);
}
void TGroup::SetSensitivity_A(double x) {
    SetLevel(FSensitivity_A, x, &TDevice::SetSensitivity_A);
}
void TGroup::SetSensitivity_B(double x) {
    SetLevel(FSensitivity_B, x, &TDevice::SetSensitivity_B);
}
void TGroup::SetLimiter_A(double x) {
    SetLevel(FLimiter_A, x, &TDevice::SetLimiter_A);
}
void TGroup::SetLimiter_B(double x) {
    SetLevel(FLimiter_B, x, &TDevice::SetLimiter_B);
}

void TGroup::SetVolume_Lock(bool on) {
    FVolume_Lock = on;
}
void TGroup::SetSensitivity_Lock(bool on) {
    FSensitivity_Lock = on;
}
void TGroup::SetLimiter_Lock(bool on) {
    FLimiter_Lock = on;
}

void TGroup::AdoptDevice(TDevice* device) {
    if (!device)
        return;
    TGroup* old = device->FGroup;
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
            new TDevice(this, address, longName, shortName, muteA.value_or(false), muteB.value_or(false));
            if (!muteA)
                TextToBool(muteAText);
            if (!muteB)
                TextToBool(muteBText);
        }
    }
}
