#include "ui/DeviceFrameUnit.h"

#include "controls/ColorBar1.h"
#include "model/Errors.h"
#include "model/Utils.h"
#include "ui/DiagramFormUnit.h"
#include "ui/ImageButton.h"
#include "ui/LiveStateView.h"
#include "ui/ObjectNames.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace {
constexpr int kBarSize = 8;
constexpr int kVeilAlpha = 170; // of 255: the readings under it keep about a third of their contrast
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

// Lies over the readings of an amplifier that is off-line or not answering, so that every one
// of them, the meters included (they repaint themselves at once), reads as old: a veil of the
// panel's own colour. Clicks pass through to the controls under it.
class TStaleVeil : public QWidget {
public:
    explicit TStaleVeil(QWidget* over) : QWidget(over) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        over->installEventFilter(this);
        hide();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        QColor veil = palette().color(QPalette::Window);
        veil.setAlpha(kVeilAlpha);
        QPainter(this).fillRect(rect(), veil);
    }
};

// A digits field that cannot be read shows "?" and an empty bar; the other fields go on.
void ShowDigits(TDDLedBar* bar, QLabel* label, const std::function<int()>& read, const QString& unit) {
    try {
        const int value = read();
        bar->SetPosition(value);
        label->setText(QString::number(value) + unit);
    } catch (const EConvertError&) {
        bar->SetPosition(0);
        label->setText(QStringLiteral("?"));
    }
}

// Background and text colour of the banner per state; on-line shows no banner.
struct TBannerLook {
    QColor Back;
    QColor Text;
};
TBannerLook BannerLook(TLiveState state) {
    switch (state) {
    case TLiveState::NoStatusYet:
        return {QColor(242, 194, 0), Qt::black};
    case TLiveState::ChannelFault:
        return {QColor(240, 122, 0), Qt::black};
    case TLiveState::NotAnswering:
        return {QColor(79, 111, 150), Qt::white};
    case TLiveState::Offline:
        return {QColor(176, 30, 30), Qt::white};
    case TLiveState::Online:
        break;
    }
    return {Qt::transparent, Qt::black};
}

// A held setting that is out of line reads black on yellow, bold, besides its "≠ wanted" text.
void ShowOutOfLine(QLabel* label, bool outOfLine) {
    if (label->autoFillBackground() == outOfLine)
        return;
    label->setAutoFillBackground(outOfLine);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor(255, 210, 77));
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(outOfLine ? palette : QPalette());
    QFont font = label->font();
    font.setBold(outOfLine);
    label->setFont(font);
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

    StateBanner = new QWidget(this);
    StateBanner->setAutoFillBackground(true);
    auto* bannerRow = new QHBoxLayout(StateBanner);
    bannerRow->setContentsMargins(8, 3, 8, 3);
    bannerRow->addStretch(1);
    StateIcon = new QLabel(StateBanner);
    StateIcon->setFixedSize(16, 16);
    bannerRow->addWidget(StateIcon);
    StateText = TextLabel(QString(), StateBanner, true, Qt::AlignLeft | Qt::AlignVCenter);
    QFont bannerFont = StateText->font();
    bannerFont.setPixelSize(15);
    StateText->setFont(bannerFont);
    bannerRow->addWidget(StateText);
    bannerRow->addStretch(1);
    StateBanner->hide();
    column->addWidget(StateBanner);

    Readings = new QWidget(this);
    auto* readingsColumn = new QVBoxLayout(Readings);
    readingsColumn->setContentsMargins(0, 0, 0, 0);
    readingsColumn->setSpacing(0);
    column->addWidget(Readings, 1);

    auto* names = new QWidget(Readings);
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
    readingsColumn->addWidget(names);

    Splitter = new QSplitter(Qt::Vertical, Readings);
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
    readingsColumn->addWidget(Splitter, 1);
    StaleVeil = new TStaleVeil(Readings); // created last: it lies above every reading

    // The controls a test or a tool looks for, by the names the panel gives them.
    Named(CHA.MUTE_OFF, "CHA_MUTE_OFF");
    Named(CHA.MUTE_ON, "CHA_MUTE_ON");
    Named(CHB.MUTE_OFF, "CHB_MUTE_OFF");
    Named(CHB.MUTE_ON, "CHB_MUTE_ON");
    Named(StateBanner, "StateBanner");
    Named(StateText, "StateText");
    Named(StaleVeil, "StaleVeil");
    Named(Image6, "Image6");

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
    // The settings the amplifier reports holding, under their own heading.
    auto* holds = TextLabel(QStringLiteral("The amplifier holds"), info, false, Qt::AlignCenter);
    QFont italic = holds->font();
    italic.setItalic(true);
    holds->setFont(italic);
    values->addWidget(holds, 4, 0, 1, 2);
    const QString heldCaptions[3] = {QStringLiteral("Volume:"), QStringLiteral("Sensitivity:"),
                                     QStringLiteral("Limiter:")};
    QLabel** heldLabels[3] = {&c.Held_Volume, &c.Held_Sensitivity, &c.Held_Limiter};
    for (int i = 0; i < 3; ++i) {
        values->addWidget(TextLabel(heldCaptions[i], info, true, Qt::AlignRight | Qt::AlignVCenter), 5 + i,
                          0);
        *heldLabels[i] = TextLabel(QStringLiteral("?"), info, false, Qt::AlignRight | Qt::AlignVCenter);
        values->addWidget(*heldLabels[i], 5 + i, 1);
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
    if (FDevice)
        disconnect(FDevice, &TDevice::LiveStateChanged, this, nullptr);
    FDevice = device;
    if (device)
        connect(device, &TDevice::LiveStateChanged, this, &TDeviceFrame::Timer1Timer);
    if (FDiagram)
        FDiagram->SetDevice(device);
    // At once: the panel never shows the identity or readings of the device selected before.
    Timer1Timer();
}

void TDeviceFrame::Timer1Timer() {
    if (!FDevice) {
        hide();
        return;
    }
    show();
    ShowState(*FDevice);
    RefreshReadings(FDevice->Status());
}

void TDeviceFrame::ShowState(const TDevice& device) {
    const TLiveState state = device.LiveState();
    StateBanner->setVisible(state != TLiveState::Online);
    if (state != TLiveState::Online) {
        const TBannerLook look = BannerLook(state);
        QPalette palette = StateBanner->palette();
        palette.setColor(QPalette::Window, look.Back);
        palette.setColor(QPalette::WindowText, look.Text);
        StateBanner->setPalette(palette);
        StateText->setPalette(palette); // the splitters' style sheets stop it from being inherited
        StateIcon->setPixmap(LiveStateIcon(state).pixmap(16, 16));
        StateText->setText(LiveStateText(device));
    }
    // Readings exist from the first status block on; once the amplifier stops delivering them
    // they are the last it reported, never to be taken for live ones.
    const bool readings = device.StatusCount() > 0;
    Readings->setVisible(readings);
    const bool stale = readings && (state == TLiveState::NotAnswering || state == TLiveState::Offline);
    if (stale && StaleVeil->isHidden()) {
        StaleVeil->setGeometry(Readings->rect());
        StaleVeil->raise();
    }
    StaleVeil->setVisible(stale);
}

void TDeviceFrame::RefreshReadings(const TDeviceStatus& s) {
    // Each field stands alone: one that cannot be read shows "?" and the rest go on.
    ShowDigits(
        PSU, PD_PSU_Temperature, [&s] { return s.PD_PSU_Temperature.Value(); }, QStringLiteral(" \u00B0C"));
    ShowDigits(
        AMP, PD_Amplifier_Temperature, [&s] { return s.PD_Amplifier_Temperature.Value(); },
        QStringLiteral(" \u00B0C"));
    ShowDigits(
        AC_IN, PD_Actual_AC_Input, [&s] { return s.MainsVolts(); }, QStringLiteral(" V"));
    ShowDigits(
        FAN, PD_Actual_FAN_Speed, [&s] { return s.FanSpeedPercent(); }, QStringLiteral(" %"));

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
    RefreshHeld(CHA, true);
    RefreshHeld(CHB, false);
}

QString TDeviceFrame::HeldText(int kind, int code) {
    if (kind == 2)
        return QString::number(code) + QStringLiteral("V");
    return FloatToStr(LevelFromCode(code)) + QStringLiteral("dB");
}

void TDeviceFrame::RefreshHeld(TChannel& c, bool channelA) {
    const std::array<int, 6> held = FDevice->HeldSettingsCodes();
    const std::array<int, 6> wanted = FDevice->SettingsCodes();
    QLabel* labels[3] = {c.Held_Volume, c.Held_Sensitivity, c.Held_Limiter};
    for (int kind = 0; kind < 3; ++kind) {
        const int index = kind * 2 + (channelA ? 0 : 1);
        const bool outOfLine = FDevice->SettingOutOfLine(index);
        QString text = HeldText(kind, held[size_t(index)]);
        if (outOfLine)
            text += QStringLiteral(" \u2260 ") + HeldText(kind, wanted[size_t(index)]);
        labels[kind]->setText(text);
        labels[kind]->setToolTip(outOfLine ? QStringLiteral("The project wants ") +
                                                 HeldText(kind, wanted[size_t(index)])
                                           : QString());
        ShowOutOfLine(labels[kind], outOfLine);
    }
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
        FDevice->SetMute_CHA(!FDevice->Mute_CHA());
}

void TDeviceFrame::MUTE_B_Click() {
    if (FDevice)
        FDevice->SetMute_CHB(!FDevice->Mute_CHB());
}

void TDeviceFrame::SetDiagramWindow(TForm4* diagram) {
    FDiagram = diagram;
    if (diagram)
        diagram->SetDevice(FDevice);
}

void TDeviceFrame::Image6Click() {
    if (FDiagram)
        FDiagram->ShowDiagram(FDevice, this);
}
