#include "ui/GroupFrameUnit.h"

#include "controls/ColorBar1.h"
#include "controls/PotmeterComponent.h"
#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/Utils.h"
#include "ui/AlignTools.h"
#include "ui/ImageButton.h"

#include <QGroupBox>
#include <QLabel>
#include <QScopedValueRollback>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace {
constexpr int kBlockWidth = 785;
constexpr int kSectionWidth = 177;
constexpr int kSectionStep = 225; // a section and the 48-pixel gap after it
constexpr int kHeaderHeight = 48;
constexpr int kStripWidth = 89;
constexpr int kFaderWidth = 62;
constexpr int kLedWidth = 9;
constexpr int kLedMargin = 17;
constexpr int kLabelGap = 15;
constexpr int kLabelHeight = 25;
constexpr int kRightColumn = 627;
const QColor kStripColour(212, 208, 200); // 13160660

QLabel* ValueLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    return label;
}

TDDLedBar* FaderBar(QWidget* parent) {
    auto* bar = new TDDLedBar(parent);
    bar->SetColorLow(QColor(0, 255, 0));
    bar->SetColorMid(QColor(255, 255, 0));
    bar->SetColorHi(QColor(255, 0, 0));
    bar->SetBackColor(Qt::black);
    bar->SetMaxValue(255);
    bar->SetBarSize(5);
    bar->SetPosition(0);
    bar->SetLowToMidPos(32);
    bar->SetMidToHiPos(16);
    return bar;
}

TFcRPotmeter* Fader(QWidget* parent, bool limiter) {
    auto* fader = new TFcRPotmeter(parent);
    fader->SetValueA(limiter ? 170 : 0);
    fader->SetValueB(limiter ? 10 : -95.5);
    fader->SetStep(1);
    fader->SetValue(limiter ? 50 : -32);
    return fader;
}

QWidget* Strip(QWidget* parent) {
    auto* strip = new QWidget(parent);
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, kStripColour);
    strip->setPalette(palette);
    return strip;
}

QLabel* Banner(const QString& resource, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(ImagePixmap(resource, QSize(136, 32)));
    label->setFixedSize(136, 32);
    label->hide();
    return label;
}
} // namespace

TGroupFrame::TGroupFrame(QWidget* parent) : QFrame(parent) {
    Block = new QWidget(this);
    Block->setFixedWidth(kBlockWidth);
    BuildSection(0, QStringLiteral("Volume"), false);
    BuildSection(1, QStringLiteral("Sensitivity"), false);
    BuildSection(2, QStringLiteral("Limiter"), true);

    GroupNameBox = new QGroupBox(QStringLiteral(" Group name  "), Block);
    GroupNameBox->setGeometry(kRightColumn + 8, 8, 137, 57);
    QFont bold = font();
    bold.setBold(true);
    GroupNameLabel = new QLabel(QStringLiteral("Group name"), GroupNameBox);
    GroupShortNameLabel = new QLabel(QStringLiteral("Group short name"), GroupNameBox);
    for (QLabel* label : {GroupNameLabel, GroupShortNameLabel}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(bold);
    }
    GroupNameLabel->setGeometry(8, 18, 121, 16);
    GroupShortNameLabel->setGeometry(8, 36, 121, 16);

    MUTE_OFF_ALL = new TImageButton(QStringLiteral(":/group/mute_off_all.svg"), QSize(136, 57), Block);
    MUTE_OFF_ALL->move(kRightColumn + 8, 96);
    MUTE_OFF_ALL->setToolTip(QStringLiteral("Unmute the whole group"));
    MUTE_ON_ALL = new TImageButton(QStringLiteral(":/group/mute_on_all.svg"), QSize(136, 57), Block);
    MUTE_ON_ALL->move(kRightColumn + 8, 160);
    MUTE_ON_ALL->setToolTip(QStringLiteral("Mute the whole group"));
    GroupMuteState = new QLabel(Block);
    GroupMuteState->setGeometry(kRightColumn + 8, 70, 136, 20);
    GroupMuteState->setAlignment(Qt::AlignCenter);
    GroupMuteState->setFont(bold);
    GroupMuteState->setAutoFillBackground(true);
    KV20_Warning = Banner(QStringLiteral(":/group/warn_kv20.svg"), Block);
    KV20_Warning->move(kRightColumn + 8, 225);
    KV30_Warning = Banner(QStringLiteral(":/group/warn_kv30.svg"), Block);
    KV30_Warning->move(kRightColumn + 8, 265);
    // The controls a test or a tool looks for, by the names the panel gives them.
    const std::pair<QObject*, const char*> names[] = {
        {POT_Volume_A, "POT_Volume_A"},
        {POT_Volume_B, "POT_Volume_B"},
        {POT_Sensitivity_A, "POT_Sensitivity_A"},
        {POT_Sensitivity_B, "POT_Sensitivity_B"},
        {POT_Limiter_A, "POT_Limiter_A"},
        {POT_Limiter_B, "POT_Limiter_B"},
        {LED_Volume_CH1, "LED_Volume_CH1"},
        {LED_Volume_CH2, "LED_Volume_CH2"},
        {LED_Sensitivity_CH1, "LED_Sensitivity_CH1"},
        {LED_Sensitivity_CH2, "LED_Sensitivity_CH2"},
        {LED_Limiter_CH1, "LED_Limiter_CH1"},
        {LED_Limiter_CH2, "LED_Limiter_CH2"},
        {Panel2, "Panel2"},
        {Panel15, "Panel15"},
        {Panel25, "Panel25"},
        {Panel35, "Panel35"},
        {Panel45, "Panel45"},
        {Panel55, "Panel55"},
        {Vol_L, "Vol_L"},
        {Vol_U, "Vol_U"},
        {Sen_L, "Sen_L"},
        {Sen_U, "Sen_U"},
        {Lim_L, "Lim_L"},
        {Lim_U, "Lim_U"},
        {GroupNameLabel, "GroupNameLabel"},
        {GroupShortNameLabel, "GroupShortNameLabel"},
        {MUTE_OFF_ALL, "MUTE_OFF_ALL"},
        {MUTE_ON_ALL, "MUTE_ON_ALL"},
        {GroupMuteState, "GroupMuteState"},
        {KV20_Warning, "KV20_Warning"},
        {KV30_Warning, "KV30_Warning"},
    };
    for (const auto& [object, name] : names)
        object->setObjectName(QLatin1String(name));

    connect(MUTE_OFF_ALL, &TImageButton::clicked, this, &TGroupFrame::MUTE_OFF_ALLClick);
    connect(MUTE_ON_ALL, &TImageButton::clicked, this, &TGroupFrame::MUTE_ON_ALLClick);

    connect(POT_Volume_A, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Volume_AChange);
    connect(POT_Volume_B, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Volume_BChange);
    connect(POT_Sensitivity_A, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Sensitivity_AChange);
    connect(POT_Sensitivity_B, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Sensitivity_BChange);
    connect(POT_Limiter_A, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Limiter_AChange);
    connect(POT_Limiter_B, &TFcRPotmeter::OnChange, this, &TGroupFrame::POT_Limiter_BChange);
    for (TImageButton* image : {Vol_L, Vol_U})
        connect(image, &TImageButton::clicked, this, &TGroupFrame::VolumeLock_Click);
    for (TImageButton* image : {Sen_L, Sen_U})
        connect(image, &TImageButton::clicked, this, &TGroupFrame::SensitivityLock_Click);
    for (TImageButton* image : {Lim_L, Lim_U})
        connect(image, &TImageButton::clicked, this, &TGroupFrame::LimiterLock_Click);

    Timer1 = new QTimer(this);
    Timer1->setInterval(333);
    connect(Timer1, &QTimer::timeout, this, &TGroupFrame::Timer1Timer);
    Timer1->start();
    hide();
}

void TGroupFrame::BuildSection(int index, const QString& title, bool limiter) {
    TSection& s = FSections[index];
    s.IsLimiter = limiter;
    s.Header = new QWidget(Block);
    auto* caption = new QLabel(title, s.Header);
    QFont bold = font();
    bold.setBold(true);
    caption->setFont(bold);
    caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    caption->setGeometry(0, 0, kSectionWidth, 13);
    s.Locked = new TImageButton(QStringLiteral(":/group/lock_locked.svg"), QSize(155, 17), s.Header);
    s.Unlocked = new TImageButton(QStringLiteral(":/group/lock_unlocked.svg"), QSize(156, 17), s.Header);
    s.Locked->move(8, 16);
    s.Unlocked->move(8, 16);
    s.Locked->hide();
    s.Locked->setToolTip(QStringLiteral("A and B move together: click to unlock"));
    s.Unlocked->setToolTip(QStringLiteral("A and B move separately: click to lock"));

    s.StripA = Strip(Block);
    s.StripB = Strip(Block);
    s.A = Fader(s.StripA, limiter);
    s.B = Fader(s.StripB, limiter);
    s.LedA = FaderBar(s.StripA);
    s.LedB = FaderBar(s.StripB);
    const QString start = limiter ? QStringLiteral("x V") : QStringLiteral("x dB");
    s.LabelA = ValueLabel(start, s.StripA);
    s.LabelB = ValueLabel(start, s.StripB);

    struct TBinding {
        TFcRPotmeter** A;
        TFcRPotmeter** B;
        TDDLedBar** LedA;
        TDDLedBar** LedB;
        QLabel** LabelA;
        QLabel** LabelB;
        TImageButton** Locked;
        TImageButton** Unlocked;
    };
    const TBinding names[3] = {
        {&POT_Volume_A, &POT_Volume_B, &LED_Volume_CH1, &LED_Volume_CH2, &Panel2, &Panel15, &Vol_L, &Vol_U},
        {&POT_Sensitivity_A, &POT_Sensitivity_B, &LED_Sensitivity_CH1, &LED_Sensitivity_CH2, &Panel25,
         &Panel35, &Sen_L, &Sen_U},
        {&POT_Limiter_A, &POT_Limiter_B, &LED_Limiter_CH1, &LED_Limiter_CH2, &Panel45, &Panel55, &Lim_L,
         &Lim_U},
    };
    const TBinding& n = names[index];
    *n.A = s.A;
    *n.B = s.B;
    *n.LedA = s.LedA;
    *n.LedB = s.LedB;
    *n.LabelA = s.LabelA;
    *n.LabelB = s.LabelB;
    *n.Locked = s.Locked;
    *n.Unlocked = s.Unlocked;

    if (index == 0) {
        s.Lock = &FVolumeLock;
        s.LevelA = TLevel::Volume_A;
        s.LevelB = TLevel::Volume_B;
        s.LockKind = TLock::Volume;
    } else if (index == 1) {
        s.Lock = &FSensitivityLock;
        s.LevelA = TLevel::Sensitivity_A;
        s.LevelB = TLevel::Sensitivity_B;
        s.LockKind = TLock::Sensitivity;
    } else {
        s.Lock = &FLimiterLock;
        s.LevelA = TLevel::Limiter_A;
        s.LevelB = TLevel::Limiter_B;
        s.LockKind = TLock::Limiter;
    }
}

void TGroupFrame::LayoutBlock() {
    const int h = Block->height();
    const int stripHeight = std::max(kLabelGap + kLabelHeight + 1, h - kHeaderHeight);
    const int faderHeight = stripHeight - kLabelGap - kLabelHeight;
    const int ledHeight = std::max(0, faderHeight - 2 * kLedMargin);
    for (int i = 0; i < 3; ++i) {
        TSection& s = FSections[i];
        const int left = i * kSectionStep;
        s.Header->setGeometry(left, 0, kSectionWidth, kHeaderHeight);
        s.StripA->setGeometry(left, kHeaderHeight, kStripWidth, stripHeight);
        s.StripB->setGeometry(left + kSectionWidth - kStripWidth, kHeaderHeight, kStripWidth, stripHeight);
        // A: fader, spacer, LED column, spacer. B mirrors it, so both bars stand between the faders.
        s.A->setGeometry(0, 0, kFaderWidth, faderHeight);
        s.LedA->setGeometry(kFaderWidth + 9, kLedMargin, kLedWidth, ledHeight);
        s.B->setGeometry(kStripWidth - kFaderWidth, 0, kFaderWidth, faderHeight);
        s.LedB->setGeometry(9, kLedMargin, kLedWidth, ledHeight);
        s.LabelA->setGeometry(0, faderHeight + kLabelGap, kStripWidth, kLabelHeight);
        s.LabelB->setGeometry(0, faderHeight + kLabelGap, kStripWidth, kLabelHeight);
    }
}

void TGroupFrame::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    FrameCanResize();
}

void TGroupFrame::FrameCanResize() {
    Block->resize(kBlockWidth, height());
    CenterInParent(*Block);
    LayoutBlock();
    update();
}

QString TGroupFrame::LevelText(double value) {
    return FloatToStr(RoundHalfEven(value * 2) / 2) + QStringLiteral("dB");
}

QString TGroupFrame::LimiterText(double value) {
    return FloatToStr(RoundHalfEven(value)) + QStringLiteral("V");
}

int TGroupFrame::LedPosition(double internalValue) {
    const double position = 255.0 - internalValue * 255.0;
    return std::isnan(position) ? 0 : int(std::trunc(position));
}

void TGroupFrame::SetGroup(TGroup* group) {
    if (group != FGroup) {
        if (FGroup)
            FGroup->disconnect(this);
        FGroup = group;
        setVisible(group != nullptr);
        if (group) {
            connect(group, &TGroup::LevelChanged, this,
                    [this](TGroup*, TLevel level, double, double now) { GroupLevelChanged(level, now); });
            connect(group, &TGroup::LockChanged, this,
                    [this](TGroup*, TLock lock, bool now) { GroupLockChanged(lock, now); });
            connect(group, &TGroup::MuteChanged, this, &TGroupFrame::RefreshMuteState);
            connect(group, &TGroup::TextChanged, this, &TGroupFrame::RefreshNames);
        }
    }
    if (!group)
        return;
    RefreshNames();
    for (TSection& s : FSections) {
        // The lock comes over first, so that the faders of a locked section show the group's
        // own two values.
        *s.Lock = group->Lock(s.LockKind);
        ShowLockImages(s);
        ShowValue(s, true, group->Level(s.LevelA));
        ShowValue(s, false, group->Level(s.LevelB));
        // A fader whose position did not change ran no handler: its label and bar still show
        // what they showed before (or their start texts).
        ShowFader(s, true);
        ShowFader(s, false);
    }
    UpdateLimiterWarnings();
    RefreshMuteState();
}

void TGroupFrame::ShowValue(TSection& s, bool channelA, double value) {
    const QScopedValueRollback<int> showing(FShowing, FShowing + 1);
    (channelA ? s.A : s.B)->SetValue(value);
}

void TGroupFrame::GroupLevelChanged(TLevel level, double now) {
    if (FWriting > 0)
        return; // the panel's own write: its faders show it already
    for (TSection& s : FSections) {
        if (level == s.LevelA || level == s.LevelB) {
            const bool channelA = level == s.LevelA;
            ShowValue(s, channelA, now);
            ShowFader(s, channelA);
            if (s.IsLimiter)
                UpdateLimiterWarnings();
        }
    }
}

void TGroupFrame::GroupLockChanged(TLock lock, bool now) {
    for (TSection& s : FSections) {
        if (s.LockKind == lock && *s.Lock != now) {
            *s.Lock = now;
            ShowLockImages(s);
        }
    }
}

void TGroupFrame::RefreshNames() {
    if (!FGroup)
        return;
    GroupNameLabel->setText(FGroup->LongName());
    GroupShortNameLabel->setText(QStringLiteral("[") + FGroup->ShortName() + QStringLiteral("]"));
}

void TGroupFrame::RefreshMuteState() {
    const bool muted = FGroup && FGroup->Mute();
    const QString text = muted ? QStringLiteral("GROUP MUTED") : QStringLiteral("GROUP NOT MUTED");
    if (GroupMuteState->text() == text)
        return;
    GroupMuteState->setText(text);
    QPalette palette = GroupMuteState->palette();
    palette.setColor(QPalette::Window, muted ? QColor(128, 0, 0) : QColor(0, 128, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
    GroupMuteState->setPalette(palette);
    // The button of the state in force looks pressed in.
    for (TImageButton* button : {MUTE_ON_ALL, MUTE_OFF_ALL}) {
        const bool current = (button == MUTE_ON_ALL) == muted;
        button->setFrameShape(current ? QFrame::Panel : QFrame::NoFrame);
        button->setFrameShadow(QFrame::Sunken);
        button->setLineWidth(2);
    }
}

void TGroupFrame::FaderChange(TSection& s, bool channelA) {
    TFcRPotmeter* fader = channelA ? s.A : s.B;
    TFcRPotmeter* partner = channelA ? s.B : s.A;
    const double v = fader->Value();
    if (FShowing == 0) {
        const QScopedValueRollback<int> writing(FWriting, FWriting + 1);
        if (FGroup)
            FGroup->SetLevel(channelA ? s.LevelA : s.LevelB, v);
        if (*s.Lock)
            partner->SetValue(v);
    }
    ShowFader(s, channelA);
    if (s.IsLimiter)
        UpdateLimiterWarnings();
}

void TGroupFrame::ShowFader(TSection& s, bool channelA) {
    TFcRPotmeter* fader = channelA ? s.A : s.B;
    const double v = fader->Value();
    (channelA ? s.LedA : s.LedB)->SetPosition(LedPosition(fader->InternalValue()));
    (channelA ? s.LabelA : s.LabelB)->setText(s.IsLimiter ? LimiterText(v) : LevelText(v));
}

void TGroupFrame::POT_Volume_AChange() {
    FaderChange(Volume(), true);
}
void TGroupFrame::POT_Volume_BChange() {
    FaderChange(Volume(), false);
}
void TGroupFrame::POT_Sensitivity_AChange() {
    FaderChange(Sensitivity(), true);
}
void TGroupFrame::POT_Sensitivity_BChange() {
    FaderChange(Sensitivity(), false);
}
void TGroupFrame::POT_Limiter_AChange() {
    FaderChange(Limiter(), true);
}
void TGroupFrame::POT_Limiter_BChange() {
    FaderChange(Limiter(), false);
}

void TGroupFrame::ShowLockImages(TSection& s) {
    s.Locked->setVisible(*s.Lock);
    s.Unlocked->setVisible(!*s.Lock);
}

void TGroupFrame::SetLock(TSection& s, bool flag) {
    if (flag == *s.Lock)
        return;
    *s.Lock = flag;
    ShowLockImages(s);
    if (FGroup)
        FGroup->SetLock(s.LockKind, flag);
    FaderChange(s, true);
}

void TGroupFrame::SetVolumeLock(bool flag) {
    SetLock(Volume(), flag);
}
void TGroupFrame::SetSensitivityLock(bool flag) {
    SetLock(Sensitivity(), flag);
}
void TGroupFrame::SetLimiterLock(bool flag) {
    SetLock(Limiter(), flag);
}

void TGroupFrame::VolumeLock_Click() {
    SetVolumeLock(!FVolumeLock);
    UpdateLimiterWarnings();
}

void TGroupFrame::SensitivityLock_Click() {
    SetSensitivityLock(!FSensitivityLock);
    UpdateLimiterWarnings();
}

void TGroupFrame::LimiterLock_Click() {
    SetLimiterLock(!FLimiterLock);
    UpdateLimiterWarnings();
}

void TGroupFrame::MUTE_ON_ALLClick() {
    if (FGroup)
        FGroup->SetMute(true);
}

void TGroupFrame::MUTE_OFF_ALLClick() {
    if (FGroup)
        FGroup->SetMute(false);
}

void TGroupFrame::UpdateLimiterWarnings() {
    if (!FGroup) {
        hide();
        return;
    }
    bool kv20 = false;
    bool kv30 = false;
    for (const TDevice* device : FGroup->Devices()) {
        const QByteArray model = device->Status().PD_Model.Bytes();
        kv20 = kv20 || model == "KV-20";
        kv30 = kv30 || model == "KV-30";
    }
    const double a = POT_Limiter_A->Value();
    const double b = POT_Limiter_B->Value();
    const auto aboveMaximum = [a, b](const QByteArray& model) {
        const TModelLimits* limits = FindModelLimits(model);
        return limits && (a > limits->LimiterMax || b > limits->LimiterMax);
    };
    KV20_Warning->setVisible(kv20 && aboveMaximum("KV-20"));
    KV30_Warning->setVisible(kv30 && aboveMaximum("KV-30"));
}

void TGroupFrame::Timer1Timer() {
    UpdateLimiterWarnings();
}
