#pragma once

#include <QMetaType>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>

class QEvent;
class QHideEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QShowEvent;
class QStatusBar;
class TDevice;
class TGroups;
struct TDeviceStatus;

// A text that converts to an integer from 0 to 255 inclusive.
bool IsAddressNumber(const QString& text);

// The addresses a search walks: prefix[0].prefix[1].prefix[2].n for n from first to last,
// ascending; none when last < first.
QStringList SearchAddresses(const std::array<int, 3>& prefix, int first, int last);

// The line listed for an amplifier found at `address`:
// "address X<model> [<group code>] [<device name>]".
QString SearchResultLine(const QString& address, const TDeviceStatus& status);

// What the search keeps of an amplifier it found, beside the line it shows: where it is, what
// it calls itself and what it plays (levels in dB and volts as it reports them, and its mutes).
struct TSearchResult {
    QString IPAddress;
    QString GroupCode; // as reported, blanks included
    QString DeviceName;
    double Volume_A = 0;
    double Volume_B = 0;
    double Sensitivity_A = 0;
    double Sensitivity_B = 0;
    double Limiter_A = 0;
    double Limiter_B = 0;
    bool Mute_A = false;
    bool Mute_B = false;
};
TSearchResult SearchResultOf(const QString& address, const TDeviceStatus& status);

// Adds a found amplifier to the registry: to the group whose short name matches its group code
// (case and trailing blanks aside), else to a new group named after the code (without its
// padding) that takes the amplifier's own levels, less the global volume. The device keeps the
// amplifier's mutes. So adding a playing amplifier does not change what it plays, as far as the
// project's ranges reach. Returns the new device.
TDevice* AddFoundAmplifier(TGroups& registry, const TSearchResult& found);
Q_DECLARE_METATYPE(TSearchResult)

// The device search window: walks an IPv4 address range, asks every answering address for its
// status block and lists the amplifiers it recognises, split into those already in the project
// and new ones; ticked new ones are added to the device tree in the group they report.
//
// Each row of "New devices" carries its TSearchResult as item data (role Qt::UserRole); adding
// reads that, never the shown line. The search runs on the user-interface thread and lets the
// window process its events between two addresses. While it runs, "Search" and "Add selected to device tree"
// are disabled; closing (hiding) the window stops it after the address being probed, and destroying the
// window during it is safe.
class TSearchForm : public QWidget {
public:
    explicit TSearchForm(QWidget* parent = nullptr);
    ~TSearchForm() override;

    QLabel* Label1;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLabel* Label2;
    QLineEdit* Edit8;
    QLineEdit* Edit7;
    QLineEdit* Edit6;
    QLineEdit* Edit5;
    QPushButton* Button1;
    QLabel* Label9;
    QListWidget* ListBox1;
    QLabel* Label10;
    QListWidget* CheckListBox1;
    QPushButton* Button2;
    QStatusBar* StatusBar1;

    // The registry that found amplifiers are compared with and added to; none at first.
    void SetRegistry(TGroups* registry);

    // The search of "Search"; raises EConvertError when an address field holds no integer.
    void Search();
    // "Add selected to device tree".
    void AddSelected();
    bool Searching() const { return FSearching; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FormActivate();
    void EditChange(QLineEdit* field);
    void EditExit(QLineEdit* field, Qt::FocusReason reason);
    void Button1Click();
    void Button2Click();

    void BuildLayout();
    void RefreshEndAddress();
    // Probes one address and lists what answers; true when an amplifier was listed.
    bool ProbeAddress(const QString& address);
    void SetSearching(bool on);
    QList<QLineEdit*> AddressFields() const;

    bool FSearching = false;
    bool FStopRequested = false;
    bool FPlaced = false;
    QPointer<TGroups> FRegistry;
};
