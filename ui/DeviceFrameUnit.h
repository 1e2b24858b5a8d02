#pragma once

#include "device/DeviceUnit.h"

#include <QFrame>
#include <QPointer>

class QLabel;
class QSplitter;
class QTimer;
class TDDLedBar;
class TForm4;
class TImageButton;

// The panel of the selected amplifier: identity, per channel its state, mute, output meters and
// the settings the amplifier holds, and the amplifier's temperatures, mains voltage and fan.
// Everything comes from the device's last status block; the panel never talks to the network.
// It is shown whenever a device is selected. A banner says in words when the device is not
// plainly on-line; the readings of an amplifier that is off-line or not answering are dimmed,
// and before the first status block there are none to show.
class TDeviceFrame : public QFrame {
    Q_OBJECT
public:
    explicit TDeviceFrame(QWidget* parent = nullptr);

    void SelectDevice(TDevice* device);
    TDevice* SelectedDevice() const { return FDevice.data(); }
    // The diagram window that shows the selected device and opens on DIAGRAM; none by default.
    void SetDiagramWindow(TForm4* diagram);

    // The 333 ms refresh; also run at once on a selection change and whenever the selected
    // device's live state changes.
    void Timer1Timer();
    void MUTE_A_Click();
    void MUTE_B_Click();
    void Image6Click();

    // The controls of one channel; channel B's mirror channel A's.
    struct TChannel {
        QLabel* AS_O = nullptr; // OK picture
        QLabel* AS_F = nullptr; // FAULT picture
        TImageButton* MUTE_OFF = nullptr;
        TImageButton* MUTE_ON = nullptr;
        QLabel* Output_Peak_Voltage = nullptr;
        QLabel* Output_Average_Voltage = nullptr;
        QLabel* Output_Average_Current = nullptr;
        QLabel* Speaker_Impedance = nullptr;
        // What the amplifier reports holding; marked when it has differed from what the project
        // wants for longer than a moment.
        QLabel* Held_Volume = nullptr;
        QLabel* Held_Sensitivity = nullptr;
        QLabel* Held_Limiter = nullptr;
        TDDLedBar* OUTPUT_PEAK_VOLTAGE = nullptr;
        TDDLedBar* OUTPUT_AVERAGE_VOLTAGE = nullptr;
        TDDLedBar* OUTPUT_AVERAGE_CURRENT = nullptr;
        TDDLedBar* OUTPUT_POWER = nullptr;
    };
    TChannel CHA;
    TChannel CHB;

    QLabel* FrontPanel = nullptr;
    QWidget* StateBanner = nullptr; // the state in words, hidden while on-line
    QLabel* StateIcon = nullptr;
    QLabel* StateText = nullptr;
    QWidget* Readings = nullptr;  // everything read from the status block
    QWidget* StaleVeil = nullptr; // over the readings while they are old: dims every one of them
    QLabel* PD_Model = nullptr;
    QLabel* PD_GroupName = nullptr;
    QLabel* PD_DeviceName = nullptr;
    TImageButton* Image6 = nullptr; // "DIAGRAM"
    QSplitter* Splitter = nullptr;
    TDDLedBar* PSU = nullptr;
    TDDLedBar* AMP = nullptr;
    TDDLedBar* AC_IN = nullptr;
    TDDLedBar* FAN = nullptr;
    QLabel* PD_PSU_Temperature = nullptr;
    QLabel* PD_Amplifier_Temperature = nullptr;
    QLabel* PD_Actual_AC_Input = nullptr;
    QLabel* PD_Actual_FAN_Speed = nullptr;
    QTimer* Timer1 = nullptr;

    // The text of a held setting: kind 0 volume, 1 sensitivity (level codes), 2 limiter (volts).
    static QString HeldText(int kind, int code);

private:
    QWidget* BuildChannel(TChannel& channel, bool mirrored);
    QWidget* BuildBottom();
    void ShowState(const TDevice& device);
    void RefreshReadings(const TDeviceStatus& status);
    void RefreshChannel(TChannel& channel, const TDeviceStatus& status, bool channelA);
    void RefreshHeld(TChannel& channel, bool channelA);

    QPointer<TDevice> FDevice;
    QPointer<TForm4> FDiagram;
};
