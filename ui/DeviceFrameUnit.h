#pragma once

#include "device/DeviceUnit.h"

#include <QFrame>
#include <QPointer>

class QLabel;
class QSplitter;
class QTimer;
class TDDLedBar;
class TImageButton;

// The panel of the selected amplifier: identity, per channel its state, mute and output meters,
// and the amplifier's temperatures, mains voltage and fan. Everything comes from the device's
// last status block; the panel never talks to the network. It shows itself only while the
// device is on-line with both channels OK.
class TDeviceFrame : public QFrame {
    Q_OBJECT
public:
    explicit TDeviceFrame(QWidget* parent = nullptr);

    void SelectDevice(TDevice* device);
    TDevice* SelectedDevice() const { return FDevice.data(); }

    // The 333 ms refresh.
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
        TDDLedBar* OUTPUT_PEAK_VOLTAGE = nullptr;
        TDDLedBar* OUTPUT_AVERAGE_VOLTAGE = nullptr;
        TDDLedBar* OUTPUT_AVERAGE_CURRENT = nullptr;
        TDDLedBar* OUTPUT_POWER = nullptr;
    };
    TChannel CHA;
    TChannel CHB;

    QLabel* FrontPanel = nullptr;
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

private:
    QWidget* BuildChannel(TChannel& channel, bool mirrored);
    QWidget* BuildBottom();
    void RefreshChannel(TChannel& channel, const TDeviceStatus& status, bool channelA);

    QPointer<TDevice> FDevice;
};
