#pragma once

#include <QFrame>
#include <QPointer>

#include "model/GroupUnit.h"

class QGroupBox;
class QLabel;
class QTimer;
class TDDLedBar;
class TFcRPotmeter;
class TGroup;
class TImageButton;

// The group control panel: six faders (volume, sensitivity and limiter for channels A and B)
// with their LED bars and value labels, three A/B locks, the group's names, the whole-group
// mute buttons and the limiter warnings. Everything it does is written into the shown group;
// the panel sends nothing itself. It follows the shown group's change signals, whoever made the
// change (the mute matrix, a rename, a remote client); showing a value never writes it back.
class TGroupFrame : public QFrame {
    Q_OBJECT
public:
    explicit TGroupFrame(QWidget* parent = nullptr);

    // Shows a group, or nothing (the panel hides). Names, faders, labels and bars are all
    // written, whatever the panel showed before; nothing is written into the group.
    void SetGroup(TGroup* group);
    TGroup* Group() const { return FGroup; }
    // Writes the shown group's names into the name labels (on every rename of the group).
    void RefreshNames();
    // Shows whether the shown group is muted: the state label and the button that matches it
    // (on every change of the group's mute).
    void RefreshMuteState();

    void SetVolumeLock(bool flag);
    void SetSensitivityLock(bool flag);
    void SetLimiterLock(bool flag);
    bool VolumeLock() const { return FVolumeLock; }
    bool SensitivityLock() const { return FSensitivityLock; }
    bool LimiterLock() const { return FLimiterLock; }

    void UpdateLimiterWarnings();

    // Handlers, named as the program names them.
    void POT_Volume_AChange();
    void POT_Volume_BChange();
    void POT_Sensitivity_AChange();
    void POT_Sensitivity_BChange();
    void POT_Limiter_AChange();
    void POT_Limiter_BChange();
    void VolumeLock_Click();
    void SensitivityLock_Click();
    void LimiterLock_Click();
    void MUTE_ON_ALLClick();
    void MUTE_OFF_ALLClick();
    // The 333 ms refresh of the limiter warnings: the models come with the members' status blocks.
    void Timer1Timer();
    void FrameCanResize();

    // The value label texts: "-32dB", "-31.5dB" (halves, ties to even) and "50V" (whole volts).
    static QString LevelText(double value);
    static QString LimiterText(double value);
    // The LED bar position of a fader: 255 at the top end, 0 at the bottom end.
    static int LedPosition(double internalValue);

    TFcRPotmeter* POT_Volume_A = nullptr;
    TFcRPotmeter* POT_Volume_B = nullptr;
    TFcRPotmeter* POT_Sensitivity_A = nullptr;
    TFcRPotmeter* POT_Sensitivity_B = nullptr;
    TFcRPotmeter* POT_Limiter_A = nullptr;
    TFcRPotmeter* POT_Limiter_B = nullptr;
    TDDLedBar* LED_Volume_CH1 = nullptr;
    TDDLedBar* LED_Volume_CH2 = nullptr;
    TDDLedBar* LED_Sensitivity_CH1 = nullptr;
    TDDLedBar* LED_Sensitivity_CH2 = nullptr;
    TDDLedBar* LED_Limiter_CH1 = nullptr;
    TDDLedBar* LED_Limiter_CH2 = nullptr;
    QLabel* Panel2 = nullptr;  // volume A
    QLabel* Panel15 = nullptr; // volume B
    QLabel* Panel25 = nullptr; // sensitivity A
    QLabel* Panel35 = nullptr; // sensitivity B
    QLabel* Panel45 = nullptr; // limiter A
    QLabel* Panel55 = nullptr; // limiter B
    TImageButton* Vol_L = nullptr;
    TImageButton* Vol_U = nullptr;
    TImageButton* Sen_L = nullptr;
    TImageButton* Sen_U = nullptr;
    TImageButton* Lim_L = nullptr;
    TImageButton* Lim_U = nullptr;
    QGroupBox* GroupNameBox = nullptr;
    QLabel* GroupNameLabel = nullptr;
    QLabel* GroupShortNameLabel = nullptr;
    TImageButton* MUTE_OFF_ALL = nullptr;
    TImageButton* MUTE_ON_ALL = nullptr;
    QLabel* GroupMuteState = nullptr; // "GROUP MUTED" or "GROUP NOT MUTED"
    QLabel* KV20_Warning = nullptr;
    QLabel* KV30_Warning = nullptr;
    QTimer* Timer1 = nullptr;
    QWidget* Block = nullptr; // the 785-wide block, centred

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // One section: its faders, bars, labels, lock images and how it reaches the group.
    struct TSection {
        TFcRPotmeter* A;
        TFcRPotmeter* B;
        TDDLedBar* LedA;
        TDDLedBar* LedB;
        QLabel* LabelA;
        QLabel* LabelB;
        TImageButton* Locked;
        TImageButton* Unlocked;
        bool* Lock;
        TLevel LevelA;
        TLevel LevelB;
        TLock LockKind;
        bool IsLimiter;
        QWidget* Header;
        QWidget* StripA;
        QWidget* StripB;
    };
    TSection& Volume() { return FSections[0]; }
    TSection& Sensitivity() { return FSections[1]; }
    TSection& Limiter() { return FSections[2]; }

    void BuildSection(int index, const QString& title, bool limiter);
    void LayoutBlock();
    void FaderChange(TSection& section, bool channelA);
    // The LED bar and value label of one fader, from its position and value.
    void ShowFader(TSection& section, bool channelA);
    void SetLock(TSection& section, bool flag);
    void ShowLockImages(TSection& section);
    // The shown group's signals.
    void GroupLevelChanged(TLevel level, double now);
    void GroupLockChanged(TLock lock, bool now);
    // Moves a fader to `value` for showing only: nothing reaches the group, the partner stays.
    void ShowValue(TSection& section, bool channelA, double value);

    QPointer<TGroup> FGroup;
    // Above zero while the panel writes into the group (its own signals then change nothing
    // shown) or shows the group's values (the faders' handlers then write nothing).
    int FWriting = 0;
    int FShowing = 0;
    bool FVolumeLock = false;
    bool FSensitivityLock = false;
    bool FLimiterLock = false;
    TSection FSections[3] = {};
};
