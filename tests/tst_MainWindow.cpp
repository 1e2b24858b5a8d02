// The main window driven offscreen: the tree's pop-up menu and its commands, drag and drop,
// project files, the global fader, and the amplifiers following a fader end to end.
#include "app/Fadelink2.h"
#include "app/GroupDeviceTree.h"
#include "controls/PotmeterComponent.h"
#include "device/ThreadCommUnit.h"
#include "journal/Journal.h"
#include "journal/JournalService.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "model/Session.h"
#include "support/WindowFixture.h"
#include "tools/ampsim/AmpRack.h"
#include "ui/AboutBox.h"
#include "ui/DeviceFrameUnit.h"
#include "ui/DeviceNameFormUnit.h"
#include "ui/DiagramFormUnit.h"
#include "ui/GroupFrameUnit.h"
#include "ui/GroupNameFormUnit.h"
#include "ui/JournalFormUnit.h"
#include "ui/LiveStateView.h"
#include "ui/MuteFormUnit.h"
#include "ui/SearchFormUnit.h"

#include <QAction>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <functional>

namespace {
void AnswerGroupDialog(const QString& longName, const QString& shortName) {
    WhenModal([=](QWidget* w) {
        auto* d = qobject_cast<TGroupNameForm*>(w);
        QVERIFY(d);
        d->GroupLongName->setText(longName);
        d->GroupShortName->setText(shortName);
        d->ButtonOK->click();
    });
}

void AnswerDeviceDialog(const QString& address, const QString& longName, const QString& shortName) {
    WhenModal([=](QWidget* w) {
        auto* d = qobject_cast<TDeviceNameForm*>(w);
        QVERIFY(d);
        d->SetIPAddressText(address);
        d->DeviceLongName->setText(longName);
        d->DeviceShortName->setText(shortName);
        d->ButtonOK->click();
    });
}

// Closes the next message box with OK and keeps its text.
void AnswerMessage(QString* text, QMessageBox::StandardButton button = QMessageBox::Ok) {
    WhenModal([=](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        QVERIFY(box);
        *text = box->text();
        box->button(button)->click();
    });
}

QByteArray ReadAll(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList TreeText(TForm1& form) {
    QStringList lines;
    const QStandardItemModel* m = form.GroupRegistry()->TreeNodes();
    for (int r = 0; r < m->rowCount(); ++r) {
        lines << m->item(r)->text();
        for (int c = 0; c < m->item(r)->rowCount(); ++c)
            lines << "  " + m->item(r)->child(c)->text();
    }
    return lines;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void startsEmptyWithTheDesignState();
    void popupEnablingFollowsTheNodeUnderTheMouse();
    void groupCommands();
    void deviceCommands();
    void dragAndDropMovesDevicesOnly();
    void projectFileCommands();
    void loadErrorKeepsNameButNeverSavesThePartialProject();
    void globalFaderLabelAndVolume();
    void globalFaderShowsTheRegistryVolume_data();
    void globalFaderShowsTheRegistryVolume();
    void groupPanelNeverBelow300();
    void faderMovesTheAmplifiersEndToEnd();
    void closingWithDevicesMidRequestIsPrompt();
    void titlesAreExactlyTheirTexts();
    void boundsThatDoNotFitTheScreenAreFitted();
    void globalMuteIsShownBesideTheGlobalFader();
    void alarmBadgeAndJournalWindowFollowTheJournal();
    void windowsShowWhatTheAmplifierDoes_data();
    void windowsShowWhatTheAmplifierDoes();
};

void TestMainWindow::startsEmptyWithTheDesignState() {
    TWindowFixture f;
    QCOMPARE(f.Form.windowTitle(), QStringLiteral("ZYL Fadelink v4.0"));
    QCOMPARE(f.Form.GroupRegistry()->GroupCount(), 0);
    QCOMPARE(f.Session.Registry(), f.Form.GroupRegistry());
    QVERIFY(!f.Form.Save1->isEnabled());
    QVERIFY(f.Form.ProjectFileName().isEmpty());
    QCOMPARE(f.Find<QLabel>("Panel8")->text(), QStringLiteral("0dB"));
    QCOMPARE(f.Find<TFcRPotmeter>("GlobalVolumeX")->Value(), 0.0);
    QVERIFY(f.Find<TGroupFrame>("GroupFrame")->isHidden());
    QVERIFY(f.Find<TDeviceFrame>("DeviceFrame")->isHidden());
    QCOMPARE(f.Find<QGroupBox>("VolumeBox")->title(), QStringLiteral("Volume "));
    QCOMPARE(f.Form.AddNewGroup1->text(), QStringLiteral("Add New Group "));
}

void TestMainWindow::popupEnablingFollowsTheNodeUnderTheMouse() {
    TWindowFixture f;
    TGroup* g = f.Form.GroupRegistry()->FindOrAddGroup("Hall", "HALL");
    new TDevice(g, "192.168.1.20", "Amp", "A");
    auto enabled = [&] {
        return QList<bool>{f.Form.AddNewGroup1->isEnabled(), f.Form.EditGroup1->isEnabled(),
                           f.Form.DeleteGroup1->isEnabled(), f.Form.AddDevice1->isEnabled(),
                           f.Form.EditDevice1->isEnabled(),  f.Form.DeleteDevice1->isEnabled()};
    };
    f.Form.TreePopupPopup(NodePoint(f.Form, 0, 0));
    QCOMPARE(enabled(), QList<bool>({false, false, false, true, true, true}));
    QVERIFY(f.Find<TDeviceFrame>("DeviceFrame")->SelectedDevice() != nullptr);
    QCOMPARE(f.Find<TGroupFrame>("GroupFrame")->Group(), g);
    f.Form.TreePopupPopup(NodePoint(f.Form, 0));
    QCOMPARE(enabled(), QList<bool>({true, true, true, true, false, false}));
    QCOMPARE(f.Find<TDeviceFrame>("DeviceFrame")->SelectedDevice(), nullptr);
    f.Form.TreePopupPopup(QPoint(5, f.Form.GroupDeviceTree->viewport()->height() - 5)); // empty space
    QCOMPARE(enabled(), QList<bool>({true, false, false, false, false, false}));
    QVERIFY(f.Find<TGroupFrame>("GroupFrame")->isHidden());
    QCOMPARE(f.Form.GroupDeviceTree->SelectedObject(), nullptr);
}

void TestMainWindow::groupCommands() {
    TWindowFixture f;
    f.Session.Stop(); // no reconciliation tick may queue commands while the dialogs are up
    AnswerGroupDialog("Main PA", "main");
    f.Popup(QPoint(5, 5), f.Form.AddNewGroup1);
    AnswerGroupDialog("Other", "MAIN"); // the same short name adds nothing
    f.Popup(QPoint(5, 300), f.Form.AddNewGroup1);
    AnswerGroupDialog("Other", "main"); // in any case
    f.Popup(QPoint(5, 300), f.Form.AddNewGroup1);
    QCOMPARE(TreeText(f.Form), QStringList({"Main PA [MAIN]"}));
    QCOMPARE(f.Form.GroupDeviceTree->SelectedObject(), nullptr); // neither selected nor expanded

    TGroup* g = f.Form.GroupRegistry()->Group(0);
    TDevice* d = new TDevice(g, "192.168.1.20", "Amp", "A");
    f.Session.Stop(); // no reconciliation tick refills the queue while the dialog is open
    while (!d->Commands().isEmpty())
        d->StoreResult(d->Commands().first(), false, QByteArray());
    AnswerGroupDialog("Hall", "hall2");
    f.Popup(NodePoint(f.Form, 0), f.Form.EditGroup1);
    QCOMPARE(g->LongName(), QStringLiteral("Hall"));
    QCOMPARE(g->ShortName(), QStringLiteral("HALL2"));
    QCOMPARE(d->Commands(), QStringList({"/group=HALL2"})); // the devices are told
    QCOMPARE(f.Find<TGroupFrame>("GroupFrame")->GroupNameLabel->text(),
             QStringLiteral("Hall")); // the panel follows
    QCOMPARE(f.Find<TGroupFrame>("GroupFrame")->GroupShortNameLabel->text(), QStringLiteral("[HALL2]"));

    // Editing a group may not give it another group's code, in whatever case.
    f.Form.GroupRegistry()->FindOrAddGroup("Second", "SEC");
    QString refused;
    WhenModal([&](QWidget* w) {
        auto* dialog = qobject_cast<TGroupNameForm*>(w);
        QVERIFY(dialog);
        dialog->GroupShortName->setText("hall2");
        WhenModal([&refused, dialog](QWidget* box) {
            refused = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            dialog->ButtonCancel->click();
        });
        dialog->ButtonOK->click();
    });
    f.Popup(NodePoint(f.Form, 1), f.Form.EditGroup1);
    QCOMPARE(refused, QStringLiteral("This short name is in use!"));
    AnswerGroupDialog("Second edited", "sec"); // its own code is its own
    f.Popup(NodePoint(f.Form, 1), f.Form.EditGroup1);
    QCOMPARE(TreeText(f.Form), QStringList({"Hall [HALL2]", "  Amp [A    ]", "Second edited [SEC]"}));
    delete f.Form.GroupRegistry()->Group(1);

    f.Form.TreePopupPopup(NodePoint(f.Form, 0));
    QVERIFY(f.Find<TGroupFrame>("GroupFrame")->isVisible());
    f.Form.DeleteGroup1->trigger();
    QCOMPARE(f.Form.GroupRegistry()->GroupCount(), 0);
    QVERIFY(f.Find<TGroupFrame>("GroupFrame")->isHidden());
    QCOMPARE(f.Find<TGroupFrame>("GroupFrame")->Group(), nullptr);
}

void TestMainWindow::deviceCommands() {
    TWindowFixture f;
    TGroup* one = f.Form.GroupRegistry()->FindOrAddGroup("One", "ONE");
    TGroup* two = f.Form.GroupRegistry()->FindOrAddGroup("Two", "TWO");
    new TDevice(two, "192.168.1.30", "Existing", "EX");

    AnswerDeviceDialog("192.168.1.31", "Left", "lft01");
    f.Popup(NodePoint(f.Form, 0), f.Form.AddDevice1);
    AnswerDeviceDialog("192.168.1.32", "Right", "RGT01"); // on a device node: added to its group
    f.Popup(NodePoint(f.Form, 1, 0), f.Form.AddDevice1);
    QCOMPARE(TreeText(f.Form), QStringList({"One [ONE]", "  Left [LFT01]", "Two [TWO]", "  Existing [EX   ]",
                                            "  Right [RGT01]"}));
    QCOMPARE(one->Device(0)->IPAddress(), QStringLiteral("192.168.1.31"));

    AnswerDeviceDialog("192.168.1.33", "Left edited", "L2");
    f.Popup(NodePoint(f.Form, 0, 0), f.Form.EditDevice1);
    QCOMPARE(one->Device(0)->IPAddress(), QStringLiteral("192.168.1.33"));
    QCOMPARE(one->Device(0)->LongName(), QStringLiteral("Left edited"));
    QCOMPARE(one->Device(0)->ShortName(), QStringLiteral("L2   "));

    // A new device may not take the address of an existing one, its starting address included.
    new TDevice(one, "192.168.1.231", "Default", "DEF");
    QString refused;
    WhenModal([&](QWidget* w) {
        auto* d = qobject_cast<TDeviceNameForm*>(w);
        QVERIFY(d);
        QVERIFY(d->Label7->isVisible());
        WhenModal([&](QWidget* box) {
            refused = qobject_cast<QMessageBox*>(box)->text();
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
            d->ButtonCancel->click();
        });
        d->ButtonOK->click();
    });
    f.Popup(NodePoint(f.Form, 0), f.Form.AddDevice1);
    QCOMPARE(refused, QStringLiteral("This IP address is in use!"));
    QCOMPARE(one->DeviceCount(), 2);

    f.Form.TreePopupPopup(NodePoint(f.Form, 1, 1));
    QPointer<TDevice> right = two->Device(1);
    f.Form.DeleteDevice1->trigger();
    QVERIFY(right.isNull());
    QCOMPARE(two->DeviceCount(), 1);
    // The panels follow whatever the tree selects now; never the deleted device.
    QCOMPARE(f.Find<TDeviceFrame>("DeviceFrame")->SelectedDevice(),
             TGroups::NodeDevice(f.Form.GroupDeviceTree->SelectedObject()));
}

void TestMainWindow::dragAndDropMovesDevicesOnly() {
    TWindowFixture f;
    TGroup* one = f.Form.GroupRegistry()->FindOrAddGroup("One", "ONE");
    TGroup* two = f.Form.GroupRegistry()->FindOrAddGroup("Two", "TWO");
    TDevice* a = new TDevice(one, "192.168.1.1", "A", "A");
    TDevice* b = new TDevice(one, "192.168.1.2", "B", "B");
    TDevice* c = new TDevice(two, "192.168.1.3", "C", "C");
    a->SetVolume_A(-7);

    f.Form.TreePopupPopup(NodePoint(f.Form, 0, 0)); // select A
    f.Form.GroupDeviceTreeDragDrop(a, two);         // onto a group
    QCOMPARE(two->Devices(), QList<TDevice*>({c, a}));
    QCOMPARE(a->Volume_A(), -7.0);

    f.Form.TreePopupPopup(NodePoint(f.Form, 0, 0)); // select B
    f.Form.GroupDeviceTreeDragDrop(b, c);           // onto a device of another group
    QCOMPARE(two->Devices(), QList<TDevice*>({c, a, b}));
    QCOMPARE(one->DeviceCount(), 0);
    QCOMPARE(TreeText(f.Form),
             QStringList({"One [ONE]", "Two [TWO]", "  C [C    ]", "  A [A    ]", "  B [B    ]"}));

    // A group node cannot be dragged, and a drop without a selected device does nothing.
    const QModelIndex groupIndex = f.Form.GroupDeviceTree->model()->index(0, 0);
    QVERIFY(!(f.Form.GroupDeviceTree->model()->flags(groupIndex) & Qt::ItemIsDragEnabled));
    f.Form.TreePopupPopup(NodePoint(f.Form, 0));
    f.Form.GroupDeviceTreeDragDrop(c, one);
    QCOMPARE(two->DeviceCount(), 3);
}

void TestMainWindow::projectFileCommands() {
    TWindowFixture f;
    QTemporaryDir dir;
    f.Form.GroupRegistry()->FindOrAddGroup("One", "ONE");
    const QString name = dir.filePath("show.pac");
    f.Form.SaveProjectAs(name);
    QVERIFY(f.Form.Save1->isEnabled());
    QCOMPARE(f.Form.ProjectFileName(), name);

    QString question;
    AnswerMessage(&question);
    f.Form.New1->trigger();
    QCOMPARE(question, QStringLiteral("All unsaved data lost! Are you sure?"));
    QCOMPARE(f.Form.GroupRegistry()->GroupCount(), 0);
    QCOMPARE(f.Form.ProjectFileName(), QString()); // the new project has no file yet

    // Save then asks for a name as Save as does, and leaves the show file last saved alone.
    f.Form.GroupRegistry()->FindOrAddGroup("Two", "TWO");
    const QByteArray saved = ReadAll(name);
    bool asked = false;
    WhenModal([&asked](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        QVERIFY(dialog);
        asked = dialog->acceptMode() == QFileDialog::AcceptSave;
        dialog->reject();
    });
    QVERIFY(f.Form.Save1->isEnabled());
    f.Form.Save1->trigger();
    QVERIFY(asked);
    QCOMPARE(ReadAll(name), saved);
    f.Form.SaveProjectAs(name);
    f.Form.Save1->trigger(); // from now on Save writes that file
    f.Form.OpenProject(name);
    QCOMPARE(TreeText(f.Form), QStringList({"Two [TWO]"}));

    QString cancelled;
    AnswerMessage(&cancelled, QMessageBox::Cancel);
    f.Form.New1->trigger();
    QCOMPARE(f.Form.GroupRegistry()->GroupCount(), 1);

    const QString missing = dir.filePath("missing.pac");
    f.Form.OpenProject(missing); // a file that does not exist opens as an empty project
    QCOMPARE(f.Form.GroupRegistry()->GroupCount(), 0);
    QCOMPARE(f.Form.ProjectFileName(), missing);
}

void TestMainWindow::loadErrorKeepsNameButNeverSavesThePartialProject() {
    TWindowFixture f;
    QTemporaryDir dir;
    const QString good = dir.filePath("good.pac");
    f.Form.SaveProjectAs(good);
    const QString bad = dir.filePath("bad.pac");
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<Groups Mute='False' Volume='0'>\r\n"
               "<Group LongName='Hall' ShortName='HALL' Volume_A='-10' Volume_B='x1'>\r\n");
    file.close();
    QString shown;
    AnswerMessage(&shown);
    f.Form.RunCommand([&] { f.Form.OpenProject(bad); });
    QCOMPARE(shown, QStringLiteral("'x1' is not a valid floating point value."));
    QCOMPARE(f.Form.ProjectFileName(), good);
    // The partial project is never written over the file last saved.
    QVERIFY(!f.Form.Save1->isEnabled());
    const QByteArray before = ReadAll(good);
    f.Form.Save1->trigger();
    QCOMPARE(ReadAll(good), before);
    // What was read before the error stays, consistently in model and tree.
    QCOMPARE(TreeText(f.Form), QStringList({"Hall [HALL]"}));
    QCOMPARE(f.Form.GroupRegistry()->Group(0)->Volume_A(), -10.0);
}

void TestMainWindow::globalFaderLabelAndVolume() {
    TWindowFixture f;
    f.Find<TFcRPotmeter>("GlobalVolumeX")->SetInternalValue(0.0);
    QCOMPARE(f.Find<QLabel>("Panel8")->text(), QStringLiteral("96dB"));
    QCOMPARE(f.Form.GroupRegistry()->Volume(), 96.0);
    f.Find<TFcRPotmeter>("GlobalVolumeX")->SetInternalValue(1.0);
    QCOMPARE(f.Find<QLabel>("Panel8")->text(), QStringLiteral("-96dB"));
    f.Find<TFcRPotmeter>("GlobalVolumeX")->SetInternalValue(0.5 + 12.34 / 192);
    QCOMPARE(f.Find<QLabel>("Panel8")->text(), QStringLiteral("-12.3dB")); // at most one decimal
    QVERIFY(std::abs(f.Form.GroupRegistry()->Volume() + 12.34) < 1e-9);    // the value itself, not the label
}

// The fader and its label show the registry's global volume after whatever set it, and showing
// it never writes the fader's own (clamped, interpolated) value back.
void TestMainWindow::globalFaderShowsTheRegistryVolume_data() {
    QTest::addColumn<QByteArray>("project"); // empty: New
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("fader");
    QTest::addColumn<QString>("volume"); // the registry's, as a file writes it
    QTest::newRow("Open -6.3: stays -6.3")
        << QByteArray("<Groups Mute='False' Volume='-6.3'></Groups>") << "-6.3dB" << -6.3 << "-6.3";
    QTest::newRow("Open beyond the fader's ends")
        << QByteArray("<Groups Mute='False' Volume='-200'></Groups>") << "-200dB" << -96.0 << "-200";
    QTest::newRow("a load that fails after the volume")
        << QByteArray("<Groups Volume='-12' Mute='maybe'></Groups>") << "-12dB" << -12.0 << "-12";
    QTest::newRow("New") << QByteArray() << "0dB" << 0.0 << "0";
}

void TestMainWindow::globalFaderShowsTheRegistryVolume() {
    QFETCH(QByteArray, project);
    QFETCH(QString, label);
    QFETCH(double, fader);
    QFETCH(QString, volume);
    TWindowFixture f;
    f.Find<TFcRPotmeter>("GlobalVolumeX")->SetValue(10); // where the operator left it
    QCOMPARE(f.Form.GroupRegistry()->Volume(), 10.0);
    QTemporaryDir dir;
    QString ignored;
    if (project.isEmpty() || project.contains("maybe")) // New asks, the failed load reports
        AnswerMessage(&ignored);
    if (project.isEmpty()) {
        f.Form.New1->trigger();
    } else {
        QFile file(dir.filePath("in.pac"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(project) == project.size());
        file.close();
        f.Form.RunCommand([&] { f.Form.OpenProject(file.fileName()); });
    }
    QCOMPARE(f.Find<QLabel>("Panel8")->text(), label);
    QVERIFY(std::abs(f.Find<TFcRPotmeter>("GlobalVolumeX")->Value() - fader) < 1e-9);
    f.Form.SaveProjectAs(dir.filePath("out.pac"));
    QVERIFY2(ReadAll(dir.filePath("out.pac")).contains("        Volume='" + volume.toLatin1() + "'>\r\n"),
             "the registry keeps the volume exactly");
}

void TestMainWindow::groupPanelNeverBelow300() {
    TWindowFixture f;
    f.Form.CentreSplitter->setSizes({100, 2000});
    QVERIFY(f.Find<QFrame>("GroupPanel")->height() >= 300);
    f.Form.resize(800, 420);
    QTest::qWait(20);
    QVERIFY(f.Find<QFrame>("GroupPanel")->height() >= 300);
}

void TestMainWindow::faderMovesTheAmplifiersEndToEnd() {
    TAmpRack rack;
    TAmpSim& left = rack.Add(TAmpConfig::At("127.0.17.1"));
    TAmpSim& right = rack.Add(TAmpConfig::At("127.0.17.2"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    QTemporaryDir dir;
    const QString project = dir.filePath("rack.pac");
    {
        TWindowFixture f; // build the project without poll threads and save it
        TGroup* g = f.Form.GroupRegistry()->FindOrAddGroup("Main", "MAIN");
        new TDevice(g, "127.0.17.1", "Left", "L");
        new TDevice(g, "127.0.17.2", "Right", "R");
        f.Form.SaveProjectAs(project);
    }
    {
        TSession session;
        TForm1 form(session);
        form.show();
        form.OpenProject(project);
        form.TreePopupPopup(NodePoint(form, 0));
        QCOMPARE(form.GroupFrame->Group(), form.GroupRegistry()->Group(0));
        QTRY_VERIFY_WITH_TIMEOUT(left.State().DeviceName == "L    " && right.State().DeviceName == "R    ",
                                 10000);
        form.GroupFrame->POT_Volume_A->SetValue(-6);
        const int code = LevelCode(-6);
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(left.State().Settings[0] == code && right.State().Settings[0] == code,
                                 10000);
        qInfo("both amplifiers held the new level %lld ms after the fader moved", timer.elapsed());
        QVERIFY(session.Shutdown(2000));
    }
}

void TestMainWindow::closingWithDevicesMidRequestIsPrompt() {
    TAmpRack rack;
    TAmpFaults silent;
    silent.NeverAnswer = true;
    for (int i = 0; i < 20; ++i)
        rack.Add(TAmpConfig::At(QStringLiteral("127.0.17.%1").arg(100 + i))).SetFaults(silent);
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TSession session;
    auto form = std::make_unique<TForm1>(session);
    form->show();
    TGroup* g = form->GroupRegistry()->FindOrAddGroup("G", "G");
    for (int i = 0; i < 20; ++i)
        new TDevice(g, QStringLiteral("127.0.17.%1").arg(100 + i), "A", "A");
    QTRY_VERIFY_WITH_TIMEOUT(rack.Amp(19).RequestCount() > 0 && rack.Amp(0).RequestCount() > 0, 10000);
    QElapsedTimer timer;
    timer.start();
    form->close();
    form.reset();
    const bool allGone = session.Shutdown(1000);
    qInfo("window closed and every poll thread gone in %lld ms", timer.elapsed());
    QVERIFY2(allGone, "closing the window must end every poll thread within a second");
}

void TestMainWindow::titlesAreExactlyTheirTexts() {
    SetUpApplication();
    // With a display name of its own the platform would append it to every title.
    QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    TWindowFixture f;
    // The main window's own windows, found by their names.
    const QStringList names{"Form1",         "SearchForm",     "MuteForm",    "Form4",
                            "GroupNameForm", "DeviceNameForm", "AboutBoxForm"};
    const QStringList titles{"ZYL Fadelink v4.0",           "Device Search", "Mute", "Diagram", "Group name",
                             "Device names and IP Address", "About"};
    for (int i = 0; i < names.size(); ++i) {
        const QWidget* window = f.Find<QWidget>(qPrintable(names[i]));
        QVERIFY2(window, qPrintable(names[i]));
        QCOMPARE(window->windowTitle(), titles[i]);
    }
}

void TestMainWindow::boundsThatDoNotFitTheScreenAreFitted() {
    TWindowFixture f;
    const QRect area = f.Form.screen()->availableGeometry();
    f.Form.SetFormBounds(QRect(area.topLeft() + QPoint(10, 20), QSize(500, 400))); // fits: kept
    QCOMPARE(f.Form.FormBounds(), QRect(area.topLeft() + QPoint(10, 20), QSize(500, 400)));
    const QRect large(area.right() - 100, area.top() - 50, area.width() + 200, 400);
    f.Form.SetFormBounds(large);
    const QRect used = f.Form.FormBounds();
    QVERIFY(area.contains(used));
    QCOMPARE(used.size(), large.size().boundedTo(area.size()));
    QTemporaryDir dir; // the project then keeps the bounds in use
    f.Form.SaveProjectAs(dir.filePath("bounds.pac"));
    f.Form.SetFormBounds(QRect(area.topLeft(), QSize(500, 400)));
    f.Form.OpenProject(dir.filePath("bounds.pac"));
    QCOMPARE(f.Form.FormBounds(), used);
}

void TestMainWindow::globalMuteIsShownBesideTheGlobalFader() {
    TWindowFixture f;
    auto* banner = f.Form.findChild<QLabel*>("GlobalMuteBanner");
    QVERIFY(banner);
    QVERIFY(banner->isHidden());
    f.Form.GroupRegistry()->SetMute(true); // as the mute matrix does it: shown at once
    QVERIFY(banner->isVisible());
    QVERIFY(f.Form.findChild<QGroupBox*>("VolumeBox")->isAncestorOf(banner));
    f.Form.GroupRegistry()->SetMute(false);
    QVERIFY(banner->isHidden());
}

void TestMainWindow::alarmBadgeAndJournalWindowFollowTheJournal() {
    TWindowFixture f;
    TGroup* g = f.Form.GroupRegistry()->FindOrAddGroup("Hall", "HALL");
    new TDevice(g, "127.0.17.210", "Left", "L");
    TDevice* right = new TDevice(g, "127.0.17.211", "Right", "R");
    auto* badge = f.Find<QToolButton>("AlarmBadge");
    QVERIFY(badge && badge->isHidden()); // no journal, no badge
    QTemporaryDir dir;
    TJournalService journal(f.Session, dir.filePath("journal.sqlite"), "tst_MainWindow");
    f.Form.SetJournal(&journal);
    QVERIFY(badge->isVisible());
    QCOMPARE(badge->text(), QStringLiteral("0"));

    TJournalEntry entry;
    entry.Severity = TJournalSeverity::Fault;
    entry.What = QStringLiteral("Off-line");
    entry.Address = QStringLiteral("127.0.17.211");
    journal.Journal()->RaiseAlarm(QStringLiteral("127.0.17.211/offline"), entry);
    QTRY_COMPARE(badge->text(), QStringLiteral("1"));

    // The badge opens the Journal window; an amplifier chosen there is selected in the tree.
    badge->click();
    QTRY_VERIFY(f.Form.JournalForm()->isVisible());
    emit f.Form.JournalForm()->AmplifierActivated(QStringLiteral("127.0.17.211"));
    const QModelIndex current = f.Form.DeviceTreeStatusImages->mapToSource(
        f.Find<TGroupDeviceTree>("GroupDeviceTree")->selectionModel()->currentIndex());
    QCOMPARE(current, right->Node()->index());

    journal.Journal()->AcknowledgeAll(TJournalSource::UserInterface, QStringLiteral("operator"));
    journal.Journal()->ClearAlarm(QStringLiteral("127.0.17.211/offline"));
    QTRY_COMPARE(badge->text(), QStringLiteral("0"));
    f.Form.JournalForm()->close();
    f.Form.SetJournal(nullptr);
}

void TestMainWindow::windowsShowWhatTheAmplifierDoes_data() {
    QTest::addColumn<bool>("stopHttp"); // else channel B goes to FAULT
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("banner");
    QTest::newRow("web server stopped, address still answering")
        << true << int(TLiveState::NotAnswering) << "No answer since ";
    QTest::newRow("channel B in FAULT") << false << int(TLiveState::ChannelFault) << "Channel B in FAULT";
}

void TestMainWindow::windowsShowWhatTheAmplifierDoes() {
    QFETCH(bool, stopHttp);
    QFETCH(int, state);
    QFETCH(QString, banner);
    TAmpRack rack;
    TAmpSim& amp = rack.Add(TAmpConfig::At(stopHttp ? "127.0.17.150" : "127.0.17.151"));
    QVERIFY2(rack.Start(), qPrintable(rack.ErrorString()));
    TSession session;
    TForm1 form(session);
    form.show();
    TDevice* device =
        new TDevice(form.GroupRegistry()->FindOrAddGroup("Main", "MAIN"), amp.Address(), "L", "L");
    form.TreePopupPopup(NodePoint(form, 0, 0));
    const QModelIndex node = form.GroupDeviceTree->selectionModel()->currentIndex();
    auto shown = [&](int expected) { // in the tree's image and the device panel's banner
        return node.data(Qt::DecorationRole).value<QIcon>().cacheKey() ==
                   LiveStateIcon(TLiveState(expected)).cacheKey() &&
               form.DeviceFrame->StateBanner->isHidden() == (expected == int(TLiveState::Online));
    };
    QTRY_VERIFY_WITH_TIMEOUT(device->Commands() == QStringList({"/zyl.zyl"}) &&
                                 shown(int(TLiveState::Online)),
                             10000); // in line: only status requests go out
    QElapsedTimer timer;
    timer.start();
    if (stopHttp)
        QVERIFY(rack.SetAnswering(0, false));
    else
        amp.Update([](TAmpState& s) { s.ChannelOkB = false; });
    QTRY_VERIFY_WITH_TIMEOUT(shown(state), 3000);
    qInfo("\"%s\" shown after %lld ms", qPrintable(banner), timer.elapsed());
    QVERIFY(form.DeviceFrame->StateText->text().startsWith(banner));
    QCOMPARE(!form.DeviceFrame->StaleVeil->isHidden(), stopHttp);
    QCOMPARE(form.DeviceFrame->CHB.AS_F->isVisible(), !stopHttp); // the panel stays, FAULT in sight
    timer.restart();
    if (stopHttp)
        QVERIFY(rack.SetAnswering(0, true));
    else
        amp.Update([](TAmpState& s) { s.ChannelOkB = true; });
    QTRY_VERIFY_WITH_TIMEOUT(shown(int(TLiveState::Online)), 1000);
    qInfo("back on-line after %lld ms", timer.elapsed());
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
