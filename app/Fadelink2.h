#pragma once

#include "model/LoadSave.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QSplitter;
class QToolButton;
class TAboutBoxForm;
class TDevice;
class TDeviceFrame;
class TDeviceNameForm;
class TFcRPotmeter;
class TForm4;
class TGroup;
class TGroupDeviceTree;
class TGroupFrame;
class TGroupNameForm;
class TGroups;
class TJournal;
class TJournalForm;
class TJournalService;
class TMuteForm;
class TSearchForm;
class TSession;
class TTreeStateImages;

// Program start, before any window: "." as decimal separator whatever the system's settings, the
// program's name, version and font. The application title goes only where it belongs (message
// boxes): set as the display name, the platform would append it to every window's title.
void SetUpApplication();

// The main window: the group/device tree on the left, the group panel above the device panel in
// the middle, the global volume fader on the right. It shows the registry of its session, which
// must outlive it, starts the session's 100 ms tick and is the session's window bounds. It creates
// the program's other windows, once each for the whole run, and hands each what it needs.
class TForm1 : public QMainWindow, public IFormBounds {
    Q_OBJECT
public:
    explicit TForm1(TSession& session, QWidget* parent = nullptr);
    ~TForm1() override;

    TSession& Session() const { return FSession; }
    TGroups* GroupRegistry() const;
    const QString& ProjectFileName() const;

    // The windows it created, named as the program names them (also their object names).
    TSearchForm* SearchForm() const { return FSearchForm.get(); }
    TMuteForm* MuteForm() const { return FMuteForm.get(); }
    TForm4* Form4() const { return FForm4.get(); }
    TGroupNameForm* GroupNameForm() const { return FGroupNameForm.get(); }
    TDeviceNameForm* DeviceNameForm() const { return FDeviceNameForm.get(); }
    TAboutBoxForm* AboutBoxForm() const { return FAboutBoxForm.get(); }
    TJournalForm* JournalForm() const { return FJournalForm.get(); }

    // The program's journal, which must outlive the window: makes the Journal window (hidden),
    // enables "Journal...", shows the alarm badge and gives the diagram window its 24 h view.
    // Without one the window runs without journal; a later call (nullptr too) first lets go of
    // the journal it had.
    void SetJournal(TJournalService* journal);
    // Null until SetJournal.
    TJournal* Journal() const;

    // Window bounds for project files: position and outer size. Bounds that do not fit the
    // screen area available are moved and shrunk to fit, and FormBounds then gives those.
    QRect FormBounds() const override;
    void SetFormBounds(const QRect& bounds) override;

    // Runs an operator command; an error it raises ends it and is shown in the error box.
    void RunCommand(const std::function<void()>& command);

    // The handlers, public so that the program and its tests can drive them as the menus do.
    void TreePopupPopup(const QPoint& viewportPos);
    void AddNewGroup1Click();
    void EditGroup1Click();
    void DeleteGroup1Click();
    void AddDevice1Click();
    void EditDevice1Click();
    void DeleteDevice1Click();
    void GroupDeviceTreeDragDrop(TDevice* device, QObject* target);
    void GroupDeviceTreeChange();
    void New1Click();
    void Open1Click();
    void Save1Click();
    void Saveas1Click();
    void OpenProject(const QString& fileName);   // Open... after the dialog, with the chosen file
    void SaveProjectAs(const QString& fileName); // Save as... after the dialog, with the chosen name
    void N3Click();
    void Search1Click();
    void Mute1Click();
    void About1Click();
    void Journal1Click();
    // The alarm badge: the Journal window with its alarm list in view.
    void AlarmBadgeClick();
    // Selects the amplifier at `address` in the tree (the first one, should two share it).
    void SelectAmplifier(const QString& address);
    void GlobalVolumeXChange();
    // Puts the global fader and its label on the registry's global volume without writing the
    // fader's (clamped, interpolated) value back.
    void SyncGlobalFader();

    // Controls, named as the program names them.
    TGroupDeviceTree* GroupDeviceTree = nullptr;
    TTreeStateImages* DeviceTreeStatusImages = nullptr;
    QFrame* GroupPanel = nullptr;
    QFrame* DevicePanel = nullptr;
    QSplitter* CentreSplitter = nullptr;
    TGroupFrame* GroupFrame = nullptr;
    TDeviceFrame* DeviceFrame = nullptr;
    QGroupBox* VolumeBox = nullptr;
    TFcRPotmeter* GlobalVolumeX = nullptr;
    QLabel* Panel8 = nullptr;
    QLabel* GlobalMuteBanner = nullptr; // "GLOBAL MUTE" while the global mute is on
    QToolButton* AlarmBadge = nullptr;  // the bell and the number of alarms not yet acknowledged
    QMenu* TreePopup = nullptr;
    QAction* AddNewGroup1 = nullptr;
    QAction* EditGroup1 = nullptr;
    QAction* DeleteGroup1 = nullptr;
    QAction* AddDevice1 = nullptr;
    QAction* EditDevice1 = nullptr;
    QAction* DeleteDevice1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Saveas1 = nullptr;
    QAction* N3 = nullptr;
    QAction* Search1 = nullptr;
    QAction* Mute1 = nullptr;
    QAction* About1 = nullptr;
    QAction* Journal1 = nullptr;

    // Where the tree's pop-up menu was last called, in viewport coordinates.
    QPoint PopupPoint;

private:
    void FormCreate();
    void CreateWindows();
    void BuildMenus();
    void BuildLayout();
    // The session's registry comes and goes (New, Open): the windows follow it.
    void AttachRegistry(TGroups* registry);
    void DetachRegistry();
    void BuildAlarmBadge(QWidget* parent);
    void ShowAlarmCount(int count);
    void ShowJournalProblem(const QString& message);
    TGroup* SelectedGroup() const;
    TDevice* SelectedDevice() const;

    TSession& FSession;
    std::unique_ptr<TSearchForm> FSearchForm;
    std::unique_ptr<TMuteForm> FMuteForm;
    std::unique_ptr<TForm4> FForm4;
    std::unique_ptr<TGroupNameForm> FGroupNameForm;
    std::unique_ptr<TDeviceNameForm> FDeviceNameForm;
    std::unique_ptr<TAboutBoxForm> FAboutBoxForm;
    std::unique_ptr<TJournalForm> FJournalForm;
    TJournalService* FJournal = nullptr;
    // Where the open and save dialogs start: the folder of the last project file, also after New.
    QString FProjectFolder;
    bool FSyncingGlobalFader = false;
};
