// Every change a user could see, made through a window, a project load or a direct model call,
// is reported once, with its source, and never when nothing changed; the windows follow changes
// made elsewhere at once, without writing anything back; the session says when it replaces its
// registry. Devices run no poll thread; their addresses (127.0.32.x) are data only.
#include "controls/PotmeterComponent.h"
#include "model/ChangeFeed.h"
#include "model/Errors.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "support/ModelFixture.h"
#include "support/WindowFixture.h"
#include "ui/CellGrid.h"
#include "ui/DeviceNameFormUnit.h"
#include "ui/GroupNameFormUnit.h"
#include "ui/ImageButton.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

namespace {
const TChangeSource kDesk = TChangeSource::Remote(QStringLiteral("desk"));

// A shown main window on a group MAIN with one device, the device selected so that both panels
// show; the tick stands still, so that nothing but the change under test happens.
struct TChangeFixture : TWindowFixture {
    TChangeFixture() {
        Session.Stop();
        Group = Form.GroupRegistry()->FindOrAddGroup("Main", "MAIN");
        Device = new TDevice(Group, "127.0.32.1", "Left", "LEFT");
        Form.TreePopupPopup(NodePoint(Form, 0, 0));
        Spy.clear();
    }
    TGroups* Registry() const { return Session.Registry(); }
    void Click(const char* name) { QTest::mouseClick(Find<QWidget>(name), Qt::LeftButton, {}, QPoint(5, 5)); }
    void MatrixDoubleClick(int col) {
        Form.Mute1Click();
        auto* grid = Find<TCellGrid>("MuteGrid");
        QVERIFY(QTest::qWaitForWindowExposed(grid->window()));
        QTRY_COMPARE_WITH_TIMEOUT(grid->RowCount(), 2, 1000); // the next rebuild shows the device
        QTest::mouseDClick(grid, Qt::LeftButton, {}, grid->CellRect(col, 1).center());
    }
    void AnswerDialog(QAction* command, const QPoint& at, const QStringList& texts) {
        WhenModal([texts](QWidget* w) {
            if (auto* group = qobject_cast<TGroupNameForm*>(w)) {
                group->GroupLongName->setText(texts[0]);
                group->GroupShortName->setText(texts[1]);
                group->ButtonOK->click();
            } else if (auto* device = qobject_cast<TDeviceNameForm*>(w)) {
                device->SetIPAddressText(texts[0]);
                device->DeviceLongName->setText(texts[1]);
                device->DeviceShortName->setText(texts[2]);
                device->ButtonOK->click();
            }
        });
        Popup(at, command);
    }
    void Open(const QByteArray& project) {
        QFile file(Dir.filePath("show.pac"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(project) == project.size());
        file.close();
        Form.OpenProject(file.fileName());
    }
    TChangeFeed Feed{Session};
    // What the feed reports from the end of the set-up on.
    QSignalSpy Spy{&Feed, &TChangeFeed::Changed};
    TGroup* Group;
    TDevice* Device;
    QTemporaryDir Dir;
};

using TAction = std::function<void(TChangeFixture&)>;

// A project whose every value but one level (Volume_B, as a new group has it) differs from a
// new project's.
const QByteArray kProject = "<Groups Mute='True' Volume='-6'>"
                            "<Group LongName='Hall' ShortName='HALL' Volume_A='-10' Volume_B='-95.5' "
                            "Sensitivity_A='-20' Sensitivity_B='-20' Limiter_A='50' Limiter_B='50' "
                            "Volume_Lock='True' Sensitivity_Lock='False' Limiter_Lock='False' Mute='True'>"
                            "<Devices><Device LongName='Left' ShortName='LEFT' IPAddress='127.0.32.5' "
                            "Mute_CHA='True' Mute_CHB='False'></Device></Devices></Group></Groups>";

const QHash<QString, TAction>& Actions() {
    static const QHash<QString, TAction> actions{
        // Through the windows.
        {"group fader", [](TChangeFixture& f) { f.Find<TFcRPotmeter>("POT_Volume_A")->SetValue(-20); }},
        {"lock image", [](TChangeFixture& f) { f.Click("Vol_U"); }},
        {"group mute button", [](TChangeFixture& f) { f.Click("MUTE_ON_ALL"); }},
        {"device mute button",
         [](TChangeFixture& f) {
             f.Device->StoreStatus(StatusInLine(*f.Device)); // the panel shows readings from here on
             f.Click("CHA_MUTE_OFF");
         }},
        {"matrix Ch B", [](TChangeFixture& f) { f.MatrixDoubleClick(2); }},
        {"matrix group", [](TChangeFixture& f) { f.MatrixDoubleClick(3); }},
        {"matrix global", [](TChangeFixture& f) { f.MatrixDoubleClick(4); }},
        {"global fader", [](TChangeFixture& f) { f.Find<TFcRPotmeter>("GlobalVolumeX")->SetValue(-10); }},
        {"edit group",
         [](TChangeFixture& f) {
             f.AnswerDialog(f.Form.EditGroup1, NodePoint(f.Form, 0), {"Hall", "hall"});
         }},
        {"edit device",
         [](TChangeFixture& f) {
             f.AnswerDialog(f.Form.EditDevice1, NodePoint(f.Form, 0, 0), {"127.0.32.2", "Right", "RIGHT"});
         }},
        {"add group",
         [](TChangeFixture& f) {
             f.AnswerDialog(f.Form.AddNewGroup1, QPoint(5, 300), {"D", "DELAY"});
         }},
        {"add device",
         [](TChangeFixture& f) {
             f.AnswerDialog(f.Form.AddDevice1, NodePoint(f.Form, 0), {"127.0.32.3", "Sub", "SUB"});
         }},
        {"delete device", [](TChangeFixture& f) { f.Popup(NodePoint(f.Form, 0, 0), f.Form.DeleteDevice1); }},
        {"delete group", [](TChangeFixture& f) { f.Popup(NodePoint(f.Form, 0), f.Form.DeleteGroup1); }},
        {"drag to a group",
         [](TChangeFixture& f) {
             f.Form.GroupDeviceTreeDragDrop(f.Device, f.Registry()->FindOrAddGroup("Other", "OTHER"));
         }},
        // A project file, opened through the window.
        {"open", [](TChangeFixture& f) { f.Open(kProject); }},
        // Direct model calls, as a remote client makes them.
        {"device level clamped", [](TChangeFixture& f) { f.Device->SetVolume_A(3, kDesk); }},
        {"device level kept", [](TChangeFixture& f) { f.Device->SetVolume_A(-95.5, kDesk); }},
        {"device limiter NaN kept",
         [](TChangeFixture& f) { f.Device->SetLimiter_B(std::numeric_limits<double>::quiet_NaN(), kDesk); }},
        {"group level", [](TChangeFixture& f) { f.Group->SetSensitivity_B(-20, kDesk); }},
        {"group limiter beyond the fader", [](TChangeFixture& f) { f.Group->SetLimiter_A(200, kDesk); }},
        {"group level kept", [](TChangeFixture& f) { f.Group->SetSensitivity_B(-95.5, kDesk); }},
        {"group lock", [](TChangeFixture& f) { f.Group->SetLimiter_Lock(true, kDesk); }},
        {"group mute kept", [](TChangeFixture& f) { f.Group->SetMute(false, kDesk); }},
        {"group mute", [](TChangeFixture& f) { f.Group->SetMute(true, kDesk); }},
        {"group long name", [](TChangeFixture& f) { f.Group->SetLongName("Stage", kDesk); }},
        {"device mute", [](TChangeFixture& f) { f.Device->SetMute_CHB(true, kDesk); }},
        {"device long name", [](TChangeFixture& f) { f.Device->SetLongName("Stage left", kDesk); }},
        {"device short name kept", [](TChangeFixture& f) { f.Device->SetShortName("left", kDesk); }},
        {"group short name kept", [](TChangeFixture& f) { f.Group->SetShortName("main", kDesk); }},
        {"global volume", [](TChangeFixture& f) { f.Registry()->SetVolume(2, kDesk); }},
        {"global mute", [](TChangeFixture& f) { f.Registry()->SetMute(true, kDesk); }},
        {"new group", [](TChangeFixture& f) { f.Registry()->FindOrAddGroup("N", "NEW", kDesk); }},
        {"existing group", [](TChangeFixture& f) { f.Registry()->FindOrAddGroup("N", "main ", kDesk); }},
        {"new device",
         [](TChangeFixture& f) { new TDevice(f.Group, "127.0.32.4", "R", "R", false, false, kDesk); }},
        {"delete device call", [](TChangeFixture& f) { f.Registry()->DeleteDevice(f.Device, kDesk); }},
        {"adopt the last member", [](TChangeFixture& f) { f.Group->AdoptDevice(f.Device, kDesk); }},
        // What the amplifier causes.
        {"status block", [](TChangeFixture& f) { f.Device->StoreStatus(StatusInLine(*f.Device)); }},
        {"limiter lowered by the model",
         [](TChangeFixture& f) {
             f.Device->SetLimiter_A(150, kDesk);
             f.Spy.clear(); // the change under test is the amplifier's
             EditStatus(*f.Device, [](TDeviceStatus& s) { s.PD_Model.Set("KV-20"); });
         }},
    };
    return actions;
}

QList<TModelChange> Changes(const QSignalSpy& spy) {
    QList<TModelChange> changes;
    for (const QList<QVariant>& arguments : spy)
        changes << arguments.at(0).value<TModelChange>();
    return changes;
}
} // namespace

class TestChangeSignals : public QObject {
    Q_OBJECT
private slots:
    void everyChangeIsReportedOnceWithItsSource_data();
    void everyChangeIsReportedOnceWithItsSource();
    void windowsFollowChangesMadeElsewhereAtOnce_data();
    void windowsFollowChangesMadeElsewhereAtOnce();
    void sessionReplacesItsRegistryAndKnowsWhenSaveMayWrite();
};

void TestChangeSignals::everyChangeIsReportedOnceWithItsSource_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<TChangeKind>("kind");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("source"); // TChangeSource::Text
    QTest::addColumn<QVariant>("old");   // not compared when invalid
    QTest::addColumn<QVariant>("now");
    using K = TChangeKind;
    const auto row = [](const char* action, K kind, const char* field, int count, const char* source = "",
                        const QVariant& old = {}, const QVariant& now = {}) {
        QTest::addRow("%s: %s", action, field[0] ? field : "-")
            << QString(action) << kind << QString(field) << count << QString(source) << old << now;
    };
    row("group fader", K::GroupLevel, "Volume_A", 1, "ui", -95.5, -20.0);
    row("group fader", K::DeviceLevel, "Volume_A", 1, "ui", -95.5, -20.0);
    row("lock image", K::GroupLock, "Volume_Lock", 1, "ui", false, true);
    row("group mute button", K::GroupMute, "Mute", 1, "ui", false, true);
    row("device mute button", K::DeviceMute, "Mute_CHA", 1, "ui", false, true);
    row("matrix Ch B", K::DeviceMute, "Mute_CHB", 1, "ui", false, true);
    row("matrix group", K::GroupMute, "Mute", 1, "ui", false, true);
    row("matrix global", K::GlobalMute, "Mute", 1, "ui", false, true);
    row("global fader", K::GlobalVolume, "Volume", 1, "ui", 0.0, -10.0);
    row("edit group", K::GroupText, "LongName", 1, "ui", "Main", "Hall");
    row("edit group", K::GroupText, "ShortName", 1, "ui", "MAIN", "HALL");
    row("edit device", K::DeviceText, "IPAddress", 1, "ui", "127.0.32.1", "127.0.32.2");
    row("edit device", K::DeviceText, "LongName", 1, "ui", "Left", "Right");
    row("edit device", K::DeviceText, "ShortName", 1, "ui", "LEFT ", "RIGHT");
    row("add group", K::GroupAdded, "", 1, "ui");
    row("add device", K::DeviceAdded, "", 1, "ui");
    row("delete device", K::DeviceRemoved, "", 1, "ui");
    row("delete group", K::DeviceRemoved, "", 1, "ui");
    row("delete group", K::GroupRemoved, "", 1, "ui");
    row("drag to a group", K::DeviceMoved, "Group", 1, "ui", "MAIN", "OTHER");
    // A project load reports each value it changes; what a group or device is created with comes
    // with its announcement.
    row("open", K::GlobalVolume, "Volume", 1, "project", 0.0, -6.0);
    row("open", K::GlobalMute, "Mute", 1, "project", false, true);
    row("open", K::GroupAdded, "", 1, "project");
    row("open", K::GroupLevel, "Volume_A", 1, "project", -95.5, -10.0);
    row("open", K::GroupLevel, "Volume_B", 0);
    row("open", K::GroupLock, "Volume_Lock", 1, "project", false, true);
    row("open", K::GroupMute, "Mute", 1, "project", false, true);
    row("open", K::DeviceAdded, "", 1, "project");
    row("open", K::DeviceMute, "Mute_CHA", 0);
    row("open", K::DeviceLevel, "Volume_A", 0);
    row("device level clamped", K::DeviceLevel, "Volume_A", 1, "remote:desk", -95.5, 0.0);
    row("device level kept", K::DeviceLevel, "Volume_A", 0);
    row("device limiter NaN kept", K::DeviceLevel, "Limiter_B", 0);
    row("group level", K::GroupLevel, "Sensitivity_B", 1, "remote:desk", -95.5, -20.0);
    row("group level", K::DeviceLevel, "Sensitivity_B", 1, "remote:desk", -95.5, -20.0);
    row("group level kept", K::GroupLevel, "Sensitivity_B", 0);
    row("group lock", K::GroupLock, "Limiter_Lock", 1, "remote:desk", false, true);
    row("group mute kept", K::GroupMute, "Mute", 0);
    row("device mute", K::DeviceMute, "Mute_CHB", 1, "remote:desk", false, true);
    row("device long name", K::DeviceText, "LongName", 1, "remote:desk", "Left", "Stage left");
    row("device short name kept", K::DeviceText, "ShortName", 0);
    row("group short name kept", K::GroupText, "ShortName", 0);
    row("global volume", K::GlobalVolume, "Volume", 1, "remote:desk", 0.0, 2.0);
    row("global mute", K::GlobalMute, "Mute", 1, "remote:desk", false, true);
    row("new group", K::GroupAdded, "", 1, "remote:desk");
    row("existing group", K::GroupAdded, "", 0);
    row("new device", K::DeviceAdded, "", 1, "remote:desk");
    row("delete device call", K::DeviceRemoved, "", 1, "remote:desk");
    row("adopt the last member", K::DeviceMoved, "Group", 0);
    row("status block", K::DeviceStatus, "", 1, "amplifier");
    row("status block", K::DeviceLiveState, "LiveState", 1, "amplifier",
        QVariant::fromValue(TLiveState::NoStatusYet), QVariant::fromValue(TLiveState::Online));
    row("limiter lowered by the model", K::DeviceLevel, "Limiter_A", 1, "amplifier", 150.0, 100.0);
}

void TestChangeSignals::everyChangeIsReportedOnceWithItsSource() {
    QFETCH(QString, action);
    QFETCH(TChangeKind, kind);
    QFETCH(QString, field);
    QFETCH(int, count);
    QFETCH(QString, source);
    QFETCH(QVariant, old);
    QFETCH(QVariant, now);
    TChangeFixture f;
    QVERIFY(Actions().contains(action));
    Actions()[action](f);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);

    QList<TModelChange> matching;
    for (const TModelChange& change : Changes(f.Spy))
        if (change.Kind == kind && change.Field == field)
            matching << change;
    QCOMPARE(matching.size(), count);
    if (count == 0)
        return;
    const TModelChange& change = matching.first();
    QCOMPARE(change.Source.Text(), source);
    if (old.isValid()) {
        if (old.typeId() == QMetaType::Double) {
            QCOMPARE(change.Old.toDouble(), old.toDouble());
            QCOMPARE(change.New.toDouble(), now.toDouble());
        } else {
            QCOMPARE(change.Old, old);
            QCOMPARE(change.New, now);
        }
    }
    // Who and what, as they were at the change.
    if (change.Device)
        QCOMPARE(change.DeviceAddress, change.Device->IPAddress());
    QVERIFY(change.Utc.isValid() && change.Utc.timeSpec() == Qt::UTC);
}

// The windows show a change made elsewhere at once, and write nothing back.
void TestChangeSignals::windowsFollowChangesMadeElsewhereAtOnce_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("shown");
    QTest::newRow("group renamed") << "group long name"
                                   << "GroupNameLabel" << QByteArray("text") << QVariant("Stage");
    QTest::newRow("group mute") << "group mute"
                                << "GroupMuteState" << QByteArray("text") << QVariant("GROUP MUTED");
    QTest::newRow("global mute") << "global mute"
                                 << "GlobalMuteBanner" << QByteArray("visible") << QVariant(true);
    QTest::newRow("global volume") << "global volume"
                                   << "Panel8" << QByteArray("text") << QVariant("2dB");
    QTest::newRow("group level") << "group level"
                                 << "Panel35" << QByteArray("text") << QVariant("-20dB");
    // The fader ends at 170 V: it shows its end, and the group keeps its 200 V.
    QTest::newRow("limiter beyond the fader") << "group limiter beyond the fader"
                                              << "Panel45" << QByteArray("text") << QVariant("170V");
    QTest::newRow("group lock") << "group lock"
                                << "Lim_L" << QByteArray("visible") << QVariant(true);
}

void TestChangeSignals::windowsFollowChangesMadeElsewhereAtOnce() {
    QFETCH(QString, action);
    QFETCH(QString, control);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, shown);
    TChangeFixture f;
    Actions()[action](f);
    QWidget* widget = f.Find<QWidget>(qPrintable(control));
    QVERIFY(widget);
    QCOMPARE(widget->property(property), shown);
    for (const TModelChange& change : Changes(f.Spy))
        QVERIFY2(change.Source.Kind != TSourceKind::UserInterface,
                 qPrintable("a window wrote " + change.Field + " back"));
}

void TestChangeSignals::sessionReplacesItsRegistryAndKnowsWhenSaveMayWrite() {
    TNoPollThreads noPollThreads;
    QTemporaryDir dir;
    TSession session;
    TGroups* first = session.Registry();
    QList<TGroups*> replacing;
    QList<TGroups*> replaced;
    QObject::connect(&session, &TSession::RegistryReplacing, [&](TGroups* old) {
        QCOMPARE(session.Registry(), old); // still there to let go of
        replacing << old;
    });
    QObject::connect(&session, &TSession::RegistryReplaced, [&](TGroups* now) { replaced << now; });

    session.Registry()->FindOrAddGroup("Main", "MAIN");
    session.SaveAs(dir.filePath("good.pac"));
    QVERIFY(session.CanSave());
    QFile bad(dir.filePath("bad.pac"));
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("<Groups Mute='x'>") > 0);
    bad.close();
    QVERIFY_THROWS_EXCEPTION(EFadelinkError, session.Load(bad.fileName()));
    QCOMPARE(session.ProjectFileName(), dir.filePath("good.pac")); // kept, but never written
    QVERIFY(!session.CanSave() && !session.Save());
    session.Load(dir.filePath("good.pac"));
    QVERIFY(session.CanSave() && session.Registry()->FindGroup("MAIN"));
    session.New();
    QVERIFY(!session.CanSave() && session.ProjectFileName().isEmpty());
    QVERIFY(session.Shutdown(1000));
    QCOMPARE(replacing.size(), 4);
    QCOMPARE(replacing.first(), first);
    QCOMPARE(replaced.size(), 4);
    QCOMPARE(replaced.last(), nullptr); // after Shutdown there is none
    QCOMPARE(session.Registry(), nullptr);
}

QTEST_MAIN(TestChangeSignals)
#include "tst_ChangeSignals.moc"
