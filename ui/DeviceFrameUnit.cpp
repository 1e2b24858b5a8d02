#include "ui/DeviceFrameUnit.h"

#include "controls/ColorBar1.h"
#include "model/Errors.h"
#include "ui/DiagramFormUnit.h"
#include "ui/Forms.h"
#include "ui/ImageButton.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {
constexpr int kBarSize = 8;
const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

QLabel* Picture(const QString& resource, const QSize& size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(ImagePixmap(resource, size));
    label->setFixedSize(size);
    return label;
}

QLabel* TextLabel(const QString& text, QWidget* parent, bool bold, Qt::Alignment alignment) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // texts from amplifiers are never markup
    label->setAlignment(alignment);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

TDDLedBar* Bar(QWidget* parent, TTrackBarOrientation orientation, int maxValue, const QColor& low,
               const QColor& mid, const QColor& high, int lowToMid, int midToHigh) {
    auto* bar = new TDDLedBar(parent);
    bar->SetOrientation(orientation);
    bar->SetBarSize(kBarSize);
    bar->SetBackColor(Qt::black);
    bar->SetMaxValue(maxValue);
    bar->SetColorLow(low);
    bar->SetColorMid(mid);
    bar->SetColorHi(high);
    bar->SetLowToMidPos(lowToMid);
    bar->SetMidToHiPos(midToHigh);
    bar->SetPosition(0);
    return bar;
}

// Two pictures at one place, at most one of them visible.
QWidget* PicturePair(QWidget* parent, const QSize& size, QWidget*& first, QWidget*& second) {
    auto* holder = new QWidget(parent);
    holder->setFixedSize(size);
    first->setParent(holder);
    second->setParent(holder);
    first->move(0, 0);
    second->move(0, 0);
    return holder;
}

QString OneDecimal(double value) {
    return QLocale::c().toString(value, 'f', 1);
}

int BarValue(double value) {
    return int(std::lround(value));
}
} // namespace

TDeviceFrame::TDeviceFrame(QWidget* parent) : QFrame(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* top = new QWidget(this);
    top->setFixedHeight(81);
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(0, 4, 0, 4);
    FrontPanel = Picture(QStringLiteral(":/device/front_panel.svg"), QSize(768, 73), top);
    topRow->addWidget(FrontPanel, 0, Qt::AlignCenter);
    column->addWidget(top);

    auto* names = new QWidget(this);
    names->setFixedHeight(40);
    auto* nameRow = new QHBoxLayout(names);
    nameRow->setContentsMargins(0, 0, 0, 0);
    nameRow->addStretch(1);
    QFont big = font();
    big.setPixelSize(16);
    for (QLabel** label : {&PD_Model, &PD_GroupName, &PD_DeviceName}) {
        *label = TextLabel(QStringLiteral("?????"), names, false, Qt::AlignCenter);
        (*label)->setFont(big);
        (*label)->setFixedSize(97, 20);
        nameRow->addWidget(*label);
    }
    Image6 = new TImageButton(QStringLiteral(":/device/diagram_button.svg"), QSize(94, 25), names);
    Image6->setToolTip(QStringLiteral("Histories of the last 100 minutes"));
    nameRow->addWidget(Image6);
    nameRow->addStretch(1);
    column->addWidget(names);

    Splitter = new QSplitter(Qt::Vertical, this);
    Splitter->setHandleWidth(4);
    Splitter->setChildrenCollapsible(false);
    Splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: #808080; }"));
    auto* middle = new QWidget(Splitter);
    auto* middleRow = new QHBoxLayout(middle);
    middleRow->setContentsMargins(0, 4, 0, 4);
    middleRow->setSpacing(24);
    middleRow->addStretch(1);
    middleRow->addWidget(BuildChannel(CHA, false));
    middleRow->addWidget(BuildChannel(CHB, true));
    middleRow->addStretch(1);
    Splitter->addWidget(middle);
    Splitter->addWidget(BuildBottom());
    Splitter->setStretchFactor(0, 1);
    Splitter->setStretchFactor(1, 0);
    Splitter->setSizes({400, 69});
    column->addWidget(Splitter, 1);

    connect(CHA.MUTE_OFF, &TImageButton::clicked, this, &TDeviceFrame::MUTE_A_Click);
    connect(CHA.MUTE_ON, &TImageButton::clicked, this, &TDeviceFrame::MUTE_A_Click);
    connect(CHB.MUTE_OFF, &TImageButton::clicked, this, &TDeviceFrame::MUTE_B_Click);
    connect(CHB.MUTE_ON, &TImageButton::clicked, this, &TDeviceFrame::MUTE_B_Click);
    connect(Image6, &TImageButton::clicked, this, &TDeviceFrame::Image6Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(333);
    connect(Timer1, &QTimer::timeout, this, &TDeviceFrame::Timer1Timer);
    Timer1->start();
    hide();
}

QWidget* TDeviceFrame::BuildChannel(TChannel& c, bool mirrored) {
    auto* section = new QWidget(this);
    auto* row = new QHBoxLayout(section);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    auto* info = new QWidget(section);
    auto* infoColumn = new QVBoxLayout(info);
    infoColumn->setContentsMargins(0, 0, 0, 0);
    infoColumn->setSpacing(6);
    c.AS_O = Picture(QStringLiteral(":/device/status_ok.svg"), QSize(134, 23), info);
    c.AS_F = Picture(QStringLiteral(":/device/status_fault.svg"), QSize(134, 23), info);
    QWidget* ok = c.AS_O;
    QWidget* fault = c.AS_F;
    infoColumn->addWidget(PicturePair(info, QSize(134, 23), ok, fault), 0, Qt::AlignHCenter);
    c.MUTE_OFF = new TImageButton(QStringLiteral(":/device/channel_unmuted.svg"), QSize(134, 35), info);
    c.MUTE_ON = new TImageButton(QStringLiteral(":/device/channel_muted.svg"), QSize(134, 35), info);
    c.MUTE_OFF->setToolTip(QStringLiteral("Click to mute this channel"));
    c.MUTE_ON->setToolTip(QStringLiteral("Click to unmute this channel"));
    QWidget* off = c.MUTE_OFF;
    QWidget* on = c.MUTE_ON;
    infoColumn->addWidget(PicturePair(info, QSize(134, 35), off, on), 0, Qt::AlignHCenter);
    c.AS_O->hide();
    c.AS_F->hide();
    c.MUTE_ON->hide();

    auto* values = new QGridLayout();
    values->setHorizontalSpacing(6);
    values->setVerticalSpacing(4);
    const QString captions[4] = {QStringLiteral("Out Peak V:"), QStringLiteral("Out Aver. V:"),
                                 QStringLiteral("Out Aver. I:"), QStringLiteral("Speaker Imp.:")};
    QLabel** valueLabels[4] = {&c.Output_Peak_Voltage, &c.Output_Average_Voltage, &c.Output_Average_Current,
                               &c.Speaker_Impedance};
    for (int i = 0; i < 4; ++i) {
        values->addWidget(TextLabel(captions[i], info, true, Qt::AlignRight | Qt::AlignVCenter), i, 0);
        *valueLabels[i] = TextLabel(QStringLiteral("?"), info, false, Qt::AlignRight | Qt::AlignVCenter);
        (*valueLabels[i])->setMinimumWidth(56);
        values->addWidget(*valueLabels[i], i, 1);
    }
    infoColumn->addLayout(values);
    infoColumn->addStretch(1);

    auto* bars = new QWidget(section);
    auto* barRow = new QHBoxLayout(bars);
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(2);
    const QString caps[4] = {QStringLiteral(":/device/caption_peak_voltage.svg"),
                             QStringLiteral(":/device/caption_average_voltage.svg"),
                             QStringLiteral(":/device/caption_average_current.svg"),
                             QStringLiteral(":/device/caption_power.svg")};
    TDDLedBar** meters[4] = {&c.OUTPUT_PEAK_VOLTAGE, &c.OUTPUT_AVERAGE_VOLTAGE, &c.OUTPUT_AVERAGE_CURRENT,
                             &c.OUTPUT_POWER};
    for (int k = 0; k < 4; ++k) {
        const int i = mirrored ? 3 - k : k; // channel B: power first, peak voltage last
        auto* cell = new QWidget(bars);
        auto* cellRow = new QHBoxLayout(cell);
        cellRow->setContentsMargins(0, 0, 0, 0);
        cellRow->setSpacing(2);
        *meters[i] = Bar(cell, trVertical, 255, kLime, kYellow, kRed, 32, 16);
        (*meters[i])->setFixedWidth(15);
        cellRow->addWidget(Picture(caps[i], QSize(16, 150), cell), 0, Qt::AlignCenter);
        cellRow->addWidget(*meters[i]);
        barRow->addWidget(cell);
    }
    if (mirrored) {
        row->addWidget(bars);
        row->addWidget(info);
    } else {
        row->addWidget(info);
        row->addWidget(bars);
    }
    return section;
}

QWidget* TDeviceFrame::BuildBottom() {
    auto* bottom = new QWidget(this);
    bottom->setMinimumHeight(69);
    auto* grid = new QGridLayout(bottom);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(1);
    const QString captions[4] = {QStringLiteral("PSU"), QStringLiteral("AMP"), QStringLiteral("AC IN"),
                                 QStringLiteral("FAN")};
    PSU = Bar(bottom, trHorizontal, 150, kLime, kYellow, kRed, 32, 16);
    AMP = Bar(bottom, trHorizontal, 150, kLime, kYellow, kRed, 32, 16);
    AC_IN = Bar(bottom, trHorizontal, 300, kRed, kLime, kRed, 50, 12);
    FAN = Bar(bottom, trHorizontal, 100, kLime, kLime, kLime, 32, 16);
    TDDLedBar* bars[4] = {PSU, AMP, AC_IN, FAN};
    QLabel** values[4] = {&PD_PSU_Temperature, &PD_Amplifier_Temperature, &PD_Actual_AC_Input,
                          &PD_Actual_FAN_Speed};
    for (int i = 0; i < 4; ++i) {
        auto* caption = TextLabel(captions[i], bottom, true, Qt::AlignCenter);
        caption->setFixedWidth(56);
        grid->addWidget(caption, i, 0);
        grid->addWidget(bars[i], i, 1);
        *values[i] = TextLabel(QStringLiteral("?"), bottom, true, Qt::AlignCenter);
        (*values[i])->setFixedWidth(56);
        grid->addWidget(*values[i], i, 2);
        grid->setRowStretch(i, 1);
    }
    grid->setColumnStretch(1, 1);
    return bottom;
}

void TDeviceFrame::SelectDevice(TDevice* device) {
    if (device == FDevice)
        return;
    FDevice = device;
    setVisible(device && device->DeviceState() == 1);
    if (Form4)
        Form4->SetDevice(device);
}

void TDeviceFrame::Timer1Timer() {
    if (!FDevice || FDevice->DeviceState() != 1) {
        hide();
        return;
    }
    show();
    const TDeviceStatus& s = FDevice->Status;
    // A digits field that holds something else stops this refresh where it stands, silently:
    // what was set before stays.
    try {
        const int psu = s.PD_PSU_Temperature.Value();
        PSU->SetPosition(psu);
        PD_PSU_Temperature->setText(QString::number(psu) + QStringLiteral(" \u00B0C"));
        const int amp = s.PD_Amplifier_Temperature.Value();
        AMP->SetPosition(amp);
        PD_Amplifier_Temperature->setText(QString::number(amp) + QStringLiteral(" \u00B0C"));
        const int mains = s.MainsVolts();
        AC_IN->SetPosition(mains);
        PD_Actual_AC_Input->setText(QString::number(mains) + QStringLiteral(" V"));
        const int fan = s.FanSpeedPercent();
        FAN->SetPosition(fan);
        PD_Actual_FAN_Speed->setText(QString::number(fan) + QStringLiteral(" %"));
    } catch (const EConvertError&) {
        return;
    }

    PD_Model->setText(QStringLiteral("X") + s.PD_Model.Text());
    PD_GroupName->setText(s.PD_GroupName.Text());
    PD_DeviceName->setText(s.PD_DeviceName.Text());

    if (const TModelLimits* limits = FindModelLimits(s.PD_Model.Bytes())) {
        for (TChannel* c : {&CHA, &CHB}) {
            c->OUTPUT_PEAK_VOLTAGE->SetMaxValue(limits->VoltageBarMax);
            c->OUTPUT_AVERAGE_VOLTAGE->SetMaxValue(limits->VoltageBarMax);
            c->OUTPUT_AVERAGE_CURRENT->SetMaxValue(limits->CurrentBarMax);
            c->OUTPUT_POWER->SetMaxValue(limits->PowerBarMax);
        }
    }
    RefreshChannel(CHA, s, true);
    RefreshChannel(CHB, s, false);
}

void TDeviceFrame::RefreshChannel(TChannel& c, const TDeviceStatus& s, bool channelA) {
    const std::uint8_t state = channelA ? s.PD_CHA_Status : s.PD_CHB_Status;
    c.AS_O->setVisible(state == 1);
    c.AS_F->setVisible(state == 0);
    const std::uint8_t muteOff = channelA ? s.PD_CHA_Mute_Off : s.PD_CHB_Mute_Off;
    c.MUTE_ON->setVisible(muteOff == 0);
    c.MUTE_OFF->setVisible(muteOff != 0);

    const double peak =
        RawToVolts((channelA ? s.PD_CHA_Output_Peak_Voltage : s.PD_CHB_Output_Peak_Voltage).Value());
    const double average =
        RawToVolts((channelA ? s.PD_CHA_Output_Average_Voltage : s.PD_CHB_Output_Average_Voltage).Value());
    const double current =
        RawToAmperes((channelA ? s.PD_CHA_Output_Average_Current : s.PD_CHB_Output_Average_Current).Value());
    // The bars' full scales are volts, amperes and watts, so they are fed the scaled values.
    c.OUTPUT_PEAK_VOLTAGE->SetPosition(BarValue(peak));
    c.OUTPUT_AVERAGE_VOLTAGE->SetPosition(BarValue(average));
    c.OUTPUT_AVERAGE_CURRENT->SetPosition(BarValue(current));
    c.OUTPUT_POWER->SetPosition(BarValue(average * current));
    c.Output_Peak_Voltage->setText(OneDecimal(peak) + QStringLiteral(" V"));
    c.Output_Average_Voltage->setText(OneDecimal(average) + QStringLiteral(" V"));
    c.Output_Average_Current->setText(OneDecimal(current) + QStringLiteral(" A"));
    const QString impedance = (channelA ? s.PD_Speaker_Impedance_CHA : s.PD_Speaker_Impedance_CHB).Text();
    c.Speaker_Impedance->setText(impedance.left(4));
}

void TDeviceFrame::MUTE_A_Click() {
    if (FDevice)
        FDevice->Mute_CHA = !FDevice->Mute_CHA;
}

void TDeviceFrame::MUTE_B_Click() {
    if (FDevice)
        FDevice->Mute_CHB = !FDevice->Mute_CHB;
}

void TDeviceFrame::Image6Click() {
    if (Form4)
        Form4->ShowDiagram(FDevice);
}
