#pragma once

#include "ui/NameDialog.h"

#include <QPointer>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TGroups;

// The modal dialog that collects a device's IPv4 address and its long and short name for "add
// device" and "edit device". While the operator edits the address, a red line warns when another
// device already has it; OK refuses such an address.
class TDeviceNameForm : public TNameDialog {
    Q_OBJECT
public:
    explicit TDeviceNameForm(QWidget* parent = nullptr);

    // Keeps the address text as InitialIPAddress, sets the address fields from it, puts the
    // names into their fields and shows the dialog modally: QDialog::Accepted after an OK with a
    // free address and a valid short name, QDialog::Rejected after Cancel or closing the window.
    // `newDevice`: the dialog is for a device still to be created, so no address is its own and
    // a starting address already in use is refused too.
    int ShowDeviceNameDialog(const QString& ipAddress, const QString& longName, const QString& shortName,
                             bool newDevice = false);

    // The four address fields' values joined by ".", such as "192.168.1.5".
    QString GetIPAddressText() const;
    // Sets the four address fields from the parts of `text` split at "."; a missing part or one
    // that is not an integer counts as 0, and values are held to 0 ... 255. Refreshes the warning.
    void SetIPAddressText(const QString& text);

    // The address text the dialog was last opened with: the device's own address when editing.
    const QString& InitialIPAddress() const { return FInitialIPAddress; }

    // The registry whose addresses are in use; none at first (every address is free).
    void SetRegistry(TGroups* registry);

    QLabel* Label7;
    QSpinBox* DeviceIP1;
    QSpinBox* DeviceIP2;
    QSpinBox* DeviceIP3;
    QSpinBox* DeviceIP4;
    QLineEdit* DeviceLongName;
    QLineEdit* DeviceShortName;
    QPushButton* ButtonOK;
    QPushButton* ButtonCancel;

private:
    std::array<QSpinBox*, 4> AddressFields() const { return {DeviceIP1, DeviceIP2, DeviceIP3, DeviceIP4}; }
    // Whether the address in the fields belongs to another device: in use, and not the address
    // the dialog was opened with.
    bool IPAddressTakenByAnother() const;

    void ButtonOKClick();
    void ButtonCancelClick();
    void DeviceIPChange();
    void DeviceLongNameReturnPressed();
    void DeviceShortNameReturnPressed();

    QString FInitialIPAddress;
    QPointer<TGroups> FRegistry;
};
