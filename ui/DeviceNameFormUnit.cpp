#include "ui/DeviceNameFormUnit.h"

#include "model/FindIPUnit.h"
#include "model/GroupsUnit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace {
constexpr int kShortNameLength = 5;
constexpr int kAddressPartMax = 255;

// One number of an IPv4 address. Up to three digits may be typed; a number above 255 becomes 255
// as it is typed, so the field never shows a value it does not hold.
class TAddressPartField : public QSpinBox {
public:
    TAddressPartField(QWidget* parent, const QString& name) : QSpinBox(parent) {
        setObjectName(name);
        setRange(0, kAddressPartMax);
        lineEdit()->setMaxLength(3);
    }

protected:
    QValidator::State validate(QString& input, int& pos) const override {
        if (input.isEmpty())
            return QValidator::Intermediate;
        if (input.size() > 3 || !std::all_of(input.begin(), input.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            return QValidator::Invalid;
        if (input.toInt() > maximum()) {
            input = QString::number(maximum());
            pos = int(input.size());
        }
        return QValidator::Acceptable;
    }
    int valueFromText(const QString& text) const override {
        return std::clamp(text.toInt(), minimum(), maximum());
    }
    QString textFromValue(int value) const override { return QString::number(value); }
};

// A part of an address text as a field value: an integer held to 0 ... 255, anything else 0.
int AddressPartValue(const QString& part) {
    bool ok = false;
    const qlonglong value = part.trimmed().toLongLong(&ok);
    return ok ? int(std::clamp<qlonglong>(value, 0, kAddressPartMax)) : 0;
}

QLabel* MakeDot(QWidget* parent) {
    auto* dot = new QLabel(QStringLiteral("."), parent);
    QFont font = dot->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 1.8 : 16);
    dot->setFont(font);
    dot->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    return dot;
}
} // namespace

TDeviceNameForm::TDeviceNameForm(QWidget* parent)
    : TNameDialog(QStringLiteral("Device names and IP Address"), QSize(288, 187), parent) {
    auto* addressLabel = new QLabel(QStringLiteral("Device IP Address"), this);
    Label7 = new QLabel(QStringLiteral("This IP address is in use!"), this);
    Label7->setObjectName(QStringLiteral("Label7"));
    QPalette warning = Label7->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    Label7->setPalette(warning);
    // The line keeps its place while hidden, so the fields below never jump.
    QSizePolicy keepPlace = Label7->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    Label7->setSizePolicy(keepPlace);
    Label7->hide();

    DeviceIP1 = new TAddressPartField(this, QStringLiteral("DeviceIP1"));
    DeviceIP2 = new TAddressPartField(this, QStringLiteral("DeviceIP2"));
    DeviceIP3 = new TAddressPartField(this, QStringLiteral("DeviceIP3"));
    DeviceIP4 = new TAddressPartField(this, QStringLiteral("DeviceIP4"));
    auto* addressRow = new QHBoxLayout;
    addressRow->setSpacing(1);
    for (QSpinBox* field : AddressFields()) {
        field->setFont(NameFieldFont(this));
        if (!addressRow->isEmpty())
            addressRow->addWidget(MakeDot(this));
        addressRow->addWidget(field, 1);
    }

    auto* longNameLabel = new QLabel(QStringLiteral("Device name"), this);
    DeviceLongName = NewNameField(this, QStringLiteral("DeviceLongName"));
    auto* shortNameLabel = new QLabel(QStringLiteral("Device short name"), this);
    DeviceShortName = NewNameField(this, QStringLiteral("DeviceShortName"), kShortNameLength);
    ButtonOK = NewDialogButton(this, QStringLiteral("OK"), QStringLiteral("ButtonOK"));
    ButtonCancel = NewDialogButton(this, QStringLiteral("Cancel"), QStringLiteral("ButtonCancel"));

    // The address across the whole width (four numbers need it), the names below it on the left
    // with the buttons beside their fields.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(2);
    grid->addWidget(addressLabel, 0, 0, 1, 2);
    grid->addLayout(addressRow, 1, 0, 1, 2);
    grid->addWidget(Label7, 2, 0, 1, 2);
    grid->setRowMinimumHeight(3, 4);
    grid->addWidget(longNameLabel, 4, 0);
    grid->addWidget(DeviceLongName, 5, 0);
    grid->addWidget(ButtonOK, 5, 1);
    grid->setRowMinimumHeight(6, 6);
    grid->addWidget(shortNameLabel, 7, 0);
    grid->addWidget(DeviceShortName, 8, 0);
    grid->addWidget(ButtonCancel, 8, 1);
    grid->setRowStretch(9, 1);
    grid->setColumnStretch(0, 1);

    setTabOrder(DeviceLongName, DeviceShortName);
    setTabOrder(DeviceShortName, ButtonOK);
    setTabOrder(ButtonOK, ButtonCancel);
    setTabOrder(ButtonCancel, DeviceIP1);
    setTabOrder(DeviceIP1, DeviceIP2);
    setTabOrder(DeviceIP2, DeviceIP3);
    setTabOrder(DeviceIP3, DeviceIP4);

    connect(ButtonOK, &QPushButton::clicked, this, &TDeviceNameForm::ButtonOKClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TDeviceNameForm::ButtonCancelClick);
    for (QSpinBox* field : AddressFields())
        connect(field, &QSpinBox::valueChanged, this, &TDeviceNameForm::DeviceIPChange);
    connect(DeviceLongName, &QLineEdit::returnPressed, this, &TDeviceNameForm::DeviceLongNameReturnPressed);
    connect(DeviceShortName, &QLineEdit::returnPressed, this, &TDeviceNameForm::DeviceShortNameReturnPressed);
}

int TDeviceNameForm::ShowDeviceNameDialog(const QString& ipAddress, const QString& longName,
                                          const QString& shortName, bool newDevice) {
    // A new device has no address of its own to exempt: its starting address, if another device
    // holds it, is refused like any other.
    FInitialIPAddress = newDevice ? QString() : ipAddress;
    SetIPAddressText(ipAddress);
    DeviceLongName->setText(longName);
    DeviceShortName->setText(shortName);
    DeviceLongName->setFocus(Qt::OtherFocusReason);
    DeviceLongName->selectAll();
    return ShowModal();
}

QString TDeviceNameForm::GetIPAddressText() const {
    QStringList parts;
    for (const QSpinBox* field : AddressFields())
        parts << QString::number(field->value());
    return parts.join(QLatin1Char('.'));
}

void TDeviceNameForm::SetIPAddressText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    const std::array<QSpinBox*, 4> fields = AddressFields();
    for (int i = 0; i < int(fields.size()); ++i) {
        const int value = i < parts.size() ? AddressPartValue(parts.at(i)) : 0;
        // Only a value that differs is written, so a field being typed in keeps its text
        // ("07" stays as typed until the field is left).
        if (fields[i]->value() != value) {
            const QSignalBlocker quiet(fields[i]);
            fields[i]->setValue(value);
        }
    }
    Label7->setVisible(IPAddressTakenByAnother());
}

void TDeviceNameForm::SetRegistry(TGroups* registry) {
    FRegistry = registry;
}

bool TDeviceNameForm::IPAddressTakenByAnother() const {
    const QString address = GetIPAddressText();
    return address != FInitialIPAddress && FRegistry && IPAddressInUse(*FRegistry, address);
}

void TDeviceNameForm::ButtonOKClick() {
    if (IPAddressTakenByAnother()) {
        ShowDialogMessage(this, QStringLiteral("This IP address is in use!"));
        return;
    }
    if (ShortNameIsValid(DeviceShortName))
        accept();
}

void TDeviceNameForm::ButtonCancelClick() {
    reject();
}

void TDeviceNameForm::DeviceIPChange() {
    SetIPAddressText(GetIPAddressText());
}

void TDeviceNameForm::DeviceLongNameReturnPressed() {
    DeviceShortName->setFocus(Qt::OtherFocusReason);
    DeviceShortName->selectAll();
}

void TDeviceNameForm::DeviceShortNameReturnPressed() {
    ButtonOKClick();
}
