#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;
class TDevice;
class THistoryView;
class TJournal;

// The diagram window: the six 100-minute history graphs, the firmware versions and the serial
// number of the device that the device panel shows, which it names inside the window. Created
// once at program start and hidden, never destroyed, when closed; it redraws every second,
// visible or not, and whenever it is activated. Stays above the other windows; each time it
// opens it is centred over the main window, within the screen.
class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    // The device to draw: the device panel passes the device it shows, or nullptr when it shows
    // none, whenever that changes. The link is weak: a device destroyed meanwhile counts as none.
    void SetDevice(TDevice* device);
    TDevice* Device() const;

    // The device panel's DIAGRAM button: SetDevice, then show, raise and activate the window and
    // redraw at once (also when the window manager withholds the activation). A window not yet
    // shown is first centred over `anchor`'s window (the main window), or the screen without one.
    void ShowDiagram(TDevice* device, const QWidget* anchor = nullptr);

    // Redraws the graphs and sets the value labels from the device's status block. Without a
    // device nothing changes: the window keeps what it shows.
    void Refresh();

    // Adds the "24 h" view: the device's last 24 hours from the journal's history, in place of
    // the 100-minute graphs while its button is down; nullptr takes them away again.
    void SetJournal(TJournal* journal);
    void ShowDayView(bool on);

    QLabel* Image1;  // the visible picture
    QLabel* Image2;  // the clean background, hidden
    QLabel* Label21; // captions
    QLabel* Label38;
    QLabel* Label101;
    QLabel* Label102;
    QLabel* Label42;
    QLabel* PD_Main_SW_Version; // values, "?????" until the first refresh
    QLabel* PD_PSU_SW_Version;
    QLabel* PD_Webserver_SW_version;
    QLabel* PD_DDS_SW_Version;
    QLabel* PD_Serial_Number;
    QLabel* DeviceName; // "Amplifier: long name [SHORT] address"
    QTimer* Timer1;
    QPushButton* DayButton = nullptr; // "24 h", with a journal only
    THistoryView* DayView = nullptr;

protected:
    void changeEvent(QEvent* event) override;

private:
    void FormActivate();
    void Timer1Timer();
    void CenterOver(const QWidget* anchor);

    QPointer<TDevice> FDevice;
    QString FDayAddress; // the amplifier and the minute the 24 h view last read
    qint64 FDayMinute = 0;
};
