#pragma once

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
struct TDeviceStatus;

// A text that converts to an integer from 0 to 255 inclusive.
bool IsAddressNumber(const QString& text);

// The addresses a search walks: prefix[0].prefix[1].prefix[2].n for n from first to last,
// ascending; none when last < first.
QStringList SearchAddresses(const std::array<int, 3>& prefix, int first, int last);

// The line listed for an amplifier found at `address`:
// "address X<model> [<group code>] [<device name>]".
QString SearchResultLine(const QString& address, const TDeviceStatus& status);

// A result line taken apart again for adding the amplifier to the device tree. The group code
// keeps its blanks.
struct TSearchResult {
    QString IPAddress;
    QString GroupCode;
    QString DeviceName;
};
TSearchResult ParseSearchResultLine(const QString& line);

// The device search window: walks an IPv4 address range, asks every answering address for its
// status block and lists the amplifiers it recognises, split into those already in the project
// and new ones; ticked new ones are added to the device tree in the group they report.
//
// The search runs on the user-interface thread and lets the window process its events between
// two addresses. While it runs, "Search" and "Add selected to device tree" are disabled;
// closing (hiding) the window stops it after the address being probed, and destroying the
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
    void ProbeAddress(const QString& address);
    void SetSearching(bool on);
    QList<QLineEdit*> AddressFields() const;

    bool FSearching = false;
    bool FStopRequested = false;
    bool FPlaced = false;
};
