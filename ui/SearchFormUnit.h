#pragma once

#include "device/DeviceSearch.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

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

// A text that converts to an integer from 0 to 255 inclusive.
bool IsAddressNumber(const QString& text);

// Adds a found amplifier to the registry: to the group whose short name matches its group code
// (case and trailing blanks aside), else to a new group named after the code (without its
// padding) that takes the amplifier's own levels, less the global volume. The device keeps the
// amplifier's mutes. So adding a playing amplifier does not change what it plays, as far as the
// project's ranges reach. Returns the new device.
TDevice* AddFoundAmplifier(TGroups& registry, const TFoundDevice& found);

// The device search window: walks an IPv4 address range, asks every answering address for its
// status block and lists the amplifiers it recognises, split into those already in the project
// and new ones; ticked new ones are added to the device tree in the group they report.
//
// Each row of "New devices" carries its TFoundDevice as item data (role Qt::UserRole); adding
// reads that, never the shown line. The walk itself is a TDeviceSearch on a thread of its own;
// the window shows what it reports as it comes. While it runs, "Search" and "Add selected to
// device tree" are disabled; closing (hiding) the window stops it, abandoning the address under
// way, and destroying the window during it is safe.
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

    // The search of "Search": starts the walk and returns. Raises EConvertError when an address
    // field holds no integer, EFadelinkError when the system refuses the search its thread.
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
    // Lists an amplifier the walk found.
    void ShowFound(const TFoundDevice& found);
    void SearchFinished(int found, bool stopped);
    void SetSearching(bool on);
    QList<QLineEdit*> AddressFields() const;

    std::unique_ptr<TDeviceSearch> FSearch; // destroyed before the widgets it reports to
    bool FSearching = false;
    bool FPlaced = false;
    QPointer<TGroups> FRegistry;
};
