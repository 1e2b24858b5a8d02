#include "app/Fadelink2.h"

#include "app/GroupDeviceTree.h"
#include "controls/PotmeterComponent.h"
#include "device/DeviceUnit.h"
#include "model/Constants.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "model/Utils.h"
#include "ui/AboutBox.h"
#include "ui/AlignTools.h"
#include "ui/DeviceFrameUnit.h"
#include "ui/DeviceNameFormUnit.h"
#include "ui/DiagramFormUnit.h"
#include "ui/Forms.h"
#include "ui/GroupFrameUnit.h"
#include "ui/GroupNameFormUnit.h"
#include "ui/JournalFormUnit.h"
#include "ui/MuteFormUnit.h"
#include "ui/ObjectNames.h"
#include "ui/SearchFormUnit.h"

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSplitter>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
const QString kCaption = QStringLiteral("ZYL Fadelink v") + FadelinkVersion;
const QString kFilter = QStringLiteral("ZYL Fadelink v2.x (*.pac)");
constexpr int kGroupPanelMinimum = 300;

QFrame* BorderPanel(QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setLineWidth(2);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    return panel;
}

// The window's menus and panels repaint often; the splitter handles are the shadow colour.
void StyleSplitter(QSplitter* splitter) {
    splitter->setHandleWidth(4);
    splitter->setChildrenCollapsible(false);
    splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: palette(dark); }"));
}
} // namespace

void SetUpApplication() {
    QLocale::setDefault(QLocale::c());
    // The user's settings (the alarm command, the control API) in one file, fadelink/fadelink.conf.
    QApplication::setOrganizationName(QStringLiteral("fadelink"));
    QApplication::setApplicationName(QStringLiteral("fadelink"));
    QApplication::setApplicationVersion(FadelinkVersion);
    QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
}

TForm1::TForm1(TSession& session, QWidget* parent) : QMainWindow(parent), FSession(session) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    BuildMenus();
    BuildLayout();
    FormCreate();
    SetFormBounds(DefaultFormBounds);
}

TForm1::~TForm1() {
    FJournalForm.reset();
    DetachRegistry();
    FSession.SetFormBounds(nullptr);
}

TGroups* TForm1::GroupRegistry() const {
    return FSession.Registry();
}

const QString& TForm1::ProjectFileName() const {
    return FSession.ProjectFileName();
}

void TForm1::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    New1 = file->addAction(QStringLiteral("New"), this, [this] { RunCommand([this] { New1Click(); }); });
    Open1 =
        file->addAction(QStringLiteral("Open..."), this, [this] { RunCommand([this] { Open1Click(); }); });
    Save1 = file->addAction(QStringLiteral("Save"), this, [this] { RunCommand([this] { Save1Click(); }); });
    Save1->setEnabled(false);
    Saveas1 = file->addAction(QStringLiteral("Save as..."), this,
                              [this] { RunCommand([this] { Saveas1Click(); }); });
    file->addSeparator();
    N3 = file->addAction(QStringLiteral("Exit"), this, [this] { N3Click(); });
    Search1 = menuBar()->addAction(QStringLiteral("Search..."), this, [this] { Search1Click(); });
    Mute1 = menuBar()->addAction(QStringLiteral("Mute"), this, [this] { Mute1Click(); });
    Journal1 = menuBar()->addAction(QStringLiteral("Journal..."), this, [this] { Journal1Click(); });
    Journal1->setEnabled(false);
    About1 = menuBar()->addAction(QStringLiteral("About"), this, [this] { About1Click(); });

    TreePopup = new QMenu(this);
    AddNewGroup1 = TreePopup->addAction(QStringLiteral("Add New Group "), this,
                                        [this] { RunCommand([this] { AddNewGroup1Click(); }); });
    EditGroup1 = TreePopup->addAction(QStringLiteral("Edit Group"), this,
                                      [this] { RunCommand([this] { EditGroup1Click(); }); });
    DeleteGroup1 = TreePopup->addAction(QStringLiteral("Delete Group"), this,
                                        [this] { RunCommand([this] { DeleteGroup1Click(); }); });
    TreePopup->addSeparator();
    AddDevice1 = TreePopup->addAction(QStringLiteral("Add Device"), this,
                                      [this] { RunCommand([this] { AddDevice1Click(); }); });
    EditDevice1 = TreePopup->addAction(QStringLiteral("Edit Device"), this,
                                       [this] { RunCommand([this] { EditDevice1Click(); }); });
    DeleteDevice1 = TreePopup->addAction(QStringLiteral("Delete Device"), this,
                                         [this] { RunCommand([this] { DeleteDevice1Click(); }); });
}

void TForm1::BuildLayout() {
    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* outer = new QSplitter(Qt::Horizontal, central);
    StyleSplitter(outer);
    QFrame* treePanel = BorderPanel(outer);
    GroupDeviceTree = new TGroupDeviceTree(treePanel);
    treePanel->layout()->addWidget(GroupDeviceTree);
    DeviceTreeStatusImages = new TTreeStateImages(this);
    GroupDeviceTree->setModel(DeviceTreeStatusImages);

    CentreSplitter = new QSplitter(Qt::Vertical, outer);
    StyleSplitter(CentreSplitter);
    GroupPanel = BorderPanel(CentreSplitter);
    GroupPanel->setMinimumHeight(kGroupPanelMinimum); // never lower than 300
    DevicePanel = BorderPanel(CentreSplitter);
    CentreSplitter->addWidget(GroupPanel);
    CentreSplitter->addWidget(DevicePanel);
    CentreSplitter->setStretchFactor(0, 0);
    CentreSplitter->setStretchFactor(1, 1);
    CentreSplitter->setSizes({312, DefaultFormBounds.height() - 312});

    outer->addWidget(treePanel);
    outer->addWidget(CentreSplitter);
    outer->setStretchFactor(0, 0);
    outer->setStretchFactor(1, 1);
    outer->setSizes({225, DefaultFormBounds.width() - 225 - 108});
    row->addWidget(outer, 1);

    row->addSpacing(20);
    VolumeBox = new QGroupBox(QStringLiteral("Volume "), central);
    VolumeBox->setFixedWidth(88);
    auto* volume = new QVBoxLayout(VolumeBox);
    volume->setContentsMargins(8, 0, 8, 0);
    volume->setSpacing(0);
    // The global mute banner stands in the space above the fader, which it never moves.
    auto* bannerSpace = new QWidget(VolumeBox);
    bannerSpace->setFixedHeight(49);
    auto* bannerLayout = new QVBoxLayout(bannerSpace);
    bannerLayout->setContentsMargins(0, 6, 0, 6);
    GlobalMuteBanner = new QLabel(QStringLiteral("GLOBAL\nMUTE"), bannerSpace);
    GlobalMuteBanner->setAlignment(Qt::AlignCenter);
    GlobalMuteBanner->setAutoFillBackground(true);
    QPalette bannerColours = GlobalMuteBanner->palette();
    bannerColours.setColor(QPalette::Window, QColor(200, 0, 0));
    bannerColours.setColor(QPalette::WindowText, Qt::white);
    GlobalMuteBanner->setPalette(bannerColours);
    QFont bannerFont = GlobalMuteBanner->font();
    bannerFont.setBold(true);
    GlobalMuteBanner->setFont(bannerFont);
    GlobalMuteBanner->setToolTip(
        QStringLiteral("Every channel of every amplifier is muted (Mute window, Global)"));
    GlobalMuteBanner->hide();
    bannerLayout->addWidget(GlobalMuteBanner);
    volume->addWidget(bannerSpace);
    GlobalVolumeX = new TFcRPotmeter(VolumeBox);
    GlobalVolumeX->SetValueA(96);
    GlobalVolumeX->SetValueB(-96);
    GlobalVolumeX->SetStep(0.5);
    GlobalVolumeX->SetInternalValue(0.5);
    volume->addWidget(GlobalVolumeX, 1);
    Panel8 = new QLabel(QStringLiteral("0dB"), VolumeBox);
    Panel8->setFixedHeight(25);
    Panel8->setAlignment(Qt::AlignCenter);
    Panel8->setFrameShape(QFrame::Panel);
    Panel8->setFrameShadow(QFrame::Sunken);
    volume->addWidget(Panel8);
    volume->addSpacing(8);
    BuildAlarmBadge(VolumeBox);
    volume->addWidget(AlarmBadge, 0, Qt::AlignHCenter);
    volume->addSpacing(74 - 8 - AlarmBadge->height());
    row->addWidget(VolumeBox);
    setCentralWidget(central);
    Named(GroupDeviceTree, "GroupDeviceTree");
    Named(GroupPanel, "GroupPanel");
    Named(DevicePanel, "DevicePanel");
    Named(VolumeBox, "VolumeBox");
    Named(GlobalVolumeX, "GlobalVolumeX");
    Named(Panel8, "Panel8");
    Named(GlobalMuteBanner, "GlobalMuteBanner");

    connect(GlobalVolumeX, &TFcRPotmeter::OnChange, this, [this] { GlobalVolumeXChange(); });
    connect(GroupDeviceTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        TreePopupPopup(pos);
        TreePopup->popup(GroupDeviceTree->viewport()->mapToGlobal(pos));
    });
    connect(GroupDeviceTree, &TGroupDeviceTree::DeviceDropped, this,
            [this](TDevice* device, QObject* target) {
                RunCommand([=] { GroupDeviceTreeDragDrop(device, target); });
            });
}

void TForm1::FormCreate() {
    GroupFrame = Named(new TGroupFrame(GroupPanel), "GroupFrame");
    GroupPanel->layout()->addWidget(GroupFrame);
    DeviceFrame = Named(new TDeviceFrame(DevicePanel), "DeviceFrame");
    DevicePanel->layout()->addWidget(DeviceFrame);
    CreateWindows();
    FSession.SetFormBounds(this);
    connect(&FSession, &TSession::RegistryReplacing, this, &TForm1::DetachRegistry);
    connect(&FSession, &TSession::RegistryReplaced, this, &TForm1::AttachRegistry);
    AttachRegistry(FSession.Registry());
    FSession.Start();
}

void TForm1::CreateWindows() {
    // Top-level windows of their own, in the order the program has always created them.
    FSearchForm.reset(Named(new TSearchForm, "SearchForm"));
    FMuteForm.reset(Named(new TMuteForm, "MuteForm"));
    FForm4.reset(Named(new TForm4, "Form4"));
    FGroupNameForm.reset(Named(new TGroupNameForm, "GroupNameForm"));
    FDeviceNameForm.reset(Named(new TDeviceNameForm, "DeviceNameForm"));
    FAboutBoxForm.reset(Named(new TAboutBoxForm, "AboutBoxForm"));
    DeviceFrame->SetDiagramWindow(FForm4.get());
}

void TForm1::AttachRegistry(TGroups* registry) {
    FSearchForm->SetRegistry(registry);
    FMuteForm->SetRegistry(registry);
    FGroupNameForm->SetRegistry(registry);
    FDeviceNameForm->SetRegistry(registry);
    if (!registry)
        return;
    // Windows let go of a group or device before it goes, whatever is selected.
    connect(registry, &TGroups::GroupDestroying, this, [this](TGroup*) { GroupFrame->SetGroup(nullptr); });
    connect(registry, &TGroups::DeviceDestroying, this, [this](TDevice* device) {
        if (DeviceFrame->SelectedDevice() == device)
            DeviceFrame->SelectDevice(nullptr);
    });
    // The group panel shows the group of the device shown, wherever it moves.
    connect(registry, &TGroups::DeviceMoved, this, [this](TDevice* device, TGroup*, TGroup* to) {
        if (DeviceFrame->SelectedDevice() == device)
            GroupFrame->SetGroup(to);
    });
    // The global fader shows the registry's global volume whatever changes it: a load (also one
    // that fails half-way), New, the fader itself.
    connect(registry, &TGroups::VolumeChanged, this, &TForm1::SyncGlobalFader);
    // Whatever sets it (the mute matrix, a project file), the global mute is never out of sight.
    connect(registry, &TGroups::MuteChanged, GlobalMuteBanner, &QWidget::setVisible);
    DeviceTreeStatusImages->setSourceModel(registry->TreeNodes());
    connect(GroupDeviceTree->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TForm1::GroupDeviceTreeChange, Qt::UniqueConnection);
    GroupDeviceTreeChange();
    SyncGlobalFader();
    GlobalMuteBanner->setVisible(registry->Mute());
}

void TForm1::DetachRegistry() {
    GroupFrame->SetGroup(nullptr);
    DeviceFrame->SelectDevice(nullptr);
    DeviceTreeStatusImages->setSourceModel(nullptr);
}

void TForm1::RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const EFadelinkError& e) {
        ShowErrorMessage(this, e.Message);
    }
}

QRect TForm1::FormBounds() const {
    const QRect frame = frameGeometry();
    return QRect(frame.left(), frame.top(), frame.width(), frame.height());
}

void TForm1::SetFormBounds(const QRect& bounds) {
    // Bounds from a larger screen (or the design size on a small one) would leave part of the
    // window, the global fader first, where the operator cannot reach it.
    const QScreen* target = QGuiApplication::screenAt(bounds.center());
    if (!target)
        target = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect fitted = target ? FitRectInto(bounds, target->availableGeometry()) : bounds;
    const QSize decoration = frameGeometry().size() - size();
    move(fitted.topLeft());
    resize(std::max(1, fitted.width() - decoration.width()),
           std::max(1, fitted.height() - decoration.height()));
}

TGroup* TForm1::SelectedGroup() const {
    return TGroups::NodeGroup(GroupDeviceTree->SelectedObject());
}

TDevice* TForm1::SelectedDevice() const {
    return TGroups::NodeDevice(GroupDeviceTree->SelectedObject());
}

void TForm1::TreePopupPopup(const QPoint& viewportPos) {
    PopupPoint = viewportPos;
    const QModelIndex index = GroupDeviceTree->indexAt(viewportPos);
    if (index.isValid())
        GroupDeviceTree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    else
        GroupDeviceTree->selectionModel()->clear();
    GroupDeviceTreeChange();
    QObject* node = TGroupDeviceTree::NodeObject(index);
    const bool isGroup = TGroups::NodeGroup(node) != nullptr;
    const bool isDevice = TGroups::NodeDevice(node) != nullptr;
    AddNewGroup1->setEnabled(!node || isGroup);
    EditGroup1->setEnabled(isGroup);
    DeleteGroup1->setEnabled(isGroup);
    AddDevice1->setEnabled(node != nullptr);
    EditDevice1->setEnabled(isDevice);
    DeleteDevice1->setEnabled(isDevice);
}

void TForm1::AddNewGroup1Click() {
    if (FGroupNameForm->ShowGroupNameDialog(QStringLiteral("Group Name"), QStringLiteral("GRP01")) !=
            QDialog::Accepted ||
        !GroupRegistry())
        return;
    GroupRegistry()->FindOrAddGroup(FGroupNameForm->GroupLongName->text(),
                                    FGroupNameForm->GroupShortName->text());
}

void TForm1::EditGroup1Click() {
    TGroup* group = SelectedGroup();
    if (!group)
        return;
    QPointer<TGroup> guard(group);
    if (FGroupNameForm->ShowGroupNameDialog(group->LongName(), group->ShortName(), group) !=
            QDialog::Accepted ||
        !guard)
        return;
    // The group panel follows the renames by itself.
    group->SetLongName(FGroupNameForm->GroupLongName->text());
    group->SetShortName(FGroupNameForm->GroupShortName->text());
}

void TForm1::DeleteGroup1Click() {
    if (TGroup* group = SelectedGroup())
        group->Registry()->DeleteGroup(group);
}

void TForm1::AddDevice1Click() {
    QObject* node = GroupDeviceTree->ObjectAt(PopupPoint);
    if (!node)
        return;
    TGroup* target = TGroups::NodeGroup(node);
    if (TDevice* device = TGroups::NodeDevice(node))
        target = device->Group();
    if (!target)
        return;
    QPointer<TGroup> guard(target);
    if (FDeviceNameForm->ShowDeviceNameDialog(QStringLiteral("192.168.1.231"), QStringLiteral("Device Name"),
                                              QStringLiteral("DEV01"), true) != QDialog::Accepted)
        return;
    if (!guard)
        return; // the group went away while the dialog was open
    new TDevice(target, FDeviceNameForm->GetIPAddressText(), FDeviceNameForm->DeviceLongName->text(),
                FDeviceNameForm->DeviceShortName->text());
}

void TForm1::EditDevice1Click() {
    QPointer<TDevice> device = SelectedDevice();
    if (!device)
        return;
    if (FDeviceNameForm->ShowDeviceNameDialog(device->IPAddress(), device->LongName(), device->ShortName()) !=
        QDialog::Accepted)
        return;
    if (!device)
        return;
    device->SetIPAddress(FDeviceNameForm->GetIPAddressText());
    device->SetLongName(FDeviceNameForm->DeviceLongName->text());
    device->SetShortName(FDeviceNameForm->DeviceShortName->text());
}

void TForm1::DeleteDevice1Click() {
    if (TDevice* device = SelectedDevice())
        device->Group()->Registry()->DeleteDevice(device);
}

void TForm1::GroupDeviceTreeDragDrop(TDevice* device, QObject* target) {
    if (!device || device != SelectedDevice() || !target)
        return;
    TGroup* group = TGroups::NodeGroup(target);
    if (TDevice* onDevice = TGroups::NodeDevice(target))
        group = onDevice->Group();
    if (group)
        group->AdoptDevice(device);
}

void TForm1::GroupDeviceTreeChange() {
    QObject* node = GroupDeviceTree->SelectedObject();
    if (TGroup* group = TGroups::NodeGroup(node)) {
        GroupFrame->SetGroup(group);
        DeviceFrame->SelectDevice(nullptr);
    } else if (TDevice* device = TGroups::NodeDevice(node)) {
        GroupFrame->SetGroup(device->Group());
        DeviceFrame->SelectDevice(device);
    } else {
        GroupFrame->SetGroup(nullptr);
        DeviceFrame->SelectDevice(nullptr);
    }
}

void TForm1::New1Click() {
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("All unsaved data lost! Are you sure?"),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    if (box.exec() != QMessageBox::Ok)
        return;
    // The new project has no file yet: Save asks for one, so that it never lands on the show
    // file last opened or saved.
    FSession.New();
}

void TForm1::Open1Click() {
    QFileDialog dialog(this, QString(), FProjectFolder, kFilter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("pac"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        OpenProject(dialog.selectedFiles().first());
    GroupDeviceTree->expandAll();
}

void TForm1::OpenProject(const QString& fileName) {
    // Until the load has succeeded the registry holds only part of a project: "Save" must not
    // write it over the file last opened or saved. A load error leaves "Save" off, so the
    // partial project can only be saved under a name chosen with Save as.
    Save1->setEnabled(false);
    FProjectFolder = QFileInfo(fileName).path();
    FSession.Load(fileName);
    Save1->setEnabled(true);
}

void TForm1::Save1Click() {
    if (!FSession.Save())
        Saveas1Click();
}

void TForm1::Saveas1Click() {
    QFileDialog dialog(this, QString(), FProjectFolder, kFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pac"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        SaveProjectAs(dialog.selectedFiles().first());
}

void TForm1::SaveProjectAs(const QString& fileName) {
    FSession.SaveAs(fileName);
    FProjectFolder = QFileInfo(fileName).path();
    Save1->setEnabled(true);
}

void TForm1::N3Click() {
    close();
}

void TForm1::Search1Click() {
    FSearchForm->show();
}

void TForm1::Mute1Click() {
    FMuteForm->show();
}

void TForm1::About1Click() {
    FAboutBoxForm->show();
}

void TForm1::GlobalVolumeXChange() {
    if (FSyncingGlobalFader)
        return;
    const double v = GlobalVolumeX->Value();
    Panel8->setText(FloatToStr(RoundHalfEven(v * 10) / 10) + QStringLiteral("dB"));
    if (GroupRegistry())
        GroupRegistry()->SetVolume(v);
}

void TForm1::SyncGlobalFader() {
    if (!GroupRegistry())
        return;
    const double volume = GroupRegistry()->Volume();
    if (GlobalVolumeX->Value() != volume) {
        // The fader holds -96 ... 96 on its own scale; a volume it cannot show exactly (-6.3, or
        // beyond its ends) must still stay in the registry as it is.
        const QScopedValueRollback<bool> syncing(FSyncingGlobalFader, true);
        GlobalVolumeX->SetValue(volume);
    }
    Panel8->setText(FloatToStr(RoundHalfEven(volume * 10) / 10) + QStringLiteral("dB"));
}
