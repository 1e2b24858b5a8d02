// The group control panel driven through its real faders and lock images.
#include "controls/ColorBar1.h"
#include "controls/PotmeterComponent.h"
#include "support/ModelFixture.h"
#include "ui/GroupFrameUnit.h"
#include "ui/ImageButton.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QtTest>

namespace {
// Drags a fader's knob by `dy` pixels as the mouse would: press, then move with the button held.
void Drag(TFcRPotmeter* fader, int dy) {
    QScreen* screen = fader->screen();
    const QPoint start = screen->geometry().center();
    auto send = [&](QEvent::Type type, const QPoint& global, Qt::MouseButton button,
                    Qt::MouseButtons buttons) {
        QCursor::setPos(screen, global);
        QMouseEvent event(type, fader->mapFromGlobal(QPointF(global)), QPointF(global), button, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(fader, &event);
    };
    send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, start + QPoint(0, dy), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, start + QPoint(0, dy), Qt::LeftButton, Qt::NoButton);
}

void Click(TImageButton* image) {
    QTest::mouseClick(image, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
}

struct TPanelFixture : TModelFixture {
    TPanelFixture() {
        Frame.resize(1000, 420);
        Frame.show();
    }
    TGroupFrame Frame;
};
} // namespace

class TestGroupFrame : public QObject {
    Q_OBJECT
private slots:
    void startsHiddenWithTheDesignValues();
    void switchingGroupsNeverCopiesValuesBetweenThem();
    void turningALockOnSetsBToA();
    void limiterLockMovesAWithB();
    void draggingAFaderReachesTheDevicesThroughTheGroup();
    void labelRounding_data();
    void labelRounding();
    void limiterWarningsFollowTheModels();
    void muteButtonsSetTheGroupMute();
    void everySetGroupWritesLabelsAndBars();
    void panelHidesWhenItsGroupGoes();
};

void TestGroupFrame::startsHiddenWithTheDesignValues() {
    TGroupFrame frame;
    QVERIFY(frame.isHidden());
    QCOMPARE(frame.POT_Volume_A->Value(), -32.0);
    QCOMPARE(frame.POT_Volume_A->InternalValue(), 0.335078534031414);
    QCOMPARE(frame.POT_Limiter_B->Value(), 50.0);
    QCOMPARE(frame.Panel2->text(), QStringLiteral("x dB"));
    QCOMPARE(frame.Panel55->text(), QStringLiteral("x V"));
    QCOMPARE(frame.LED_Volume_CH1->Position(), 0);
    QVERIFY(!frame.VolumeLock() && !frame.SensitivityLock() && !frame.LimiterLock());
    QVERIFY(frame.KV20_Warning->isHidden() && frame.KV30_Warning->isHidden());
}

void TestGroupFrame::switchingGroupsNeverCopiesValuesBetweenThem() {
    TPanelFixture f;
    TGroup* one = f.AddGroup("ONE", "One");
    one->SetVolume_A(-10);
    one->SetVolume_B(-20);
    TGroup* two = f.AddGroup("TWO", "Two");
    two->SetVolume_Lock(true);
    two->SetVolume_A(-40);
    two->SetVolume_B(-40);
    two->SetLimiter_A(120);
    two->SetLimiter_B(130); // unlocked limiter: kept as stored
    for (int round = 0; round < 2; ++round) {
        f.Frame.SetGroup(one);
        QVERIFY(f.Frame.isVisible());
        QCOMPARE(f.Frame.GroupNameLabel->text(), QStringLiteral("One"));
        QCOMPARE(f.Frame.GroupShortNameLabel->text(), QStringLiteral("[ONE]"));
        QVERIFY(!f.Frame.VolumeLock());
        QVERIFY(f.Frame.Vol_U->isVisible() && !f.Frame.Vol_L->isVisible());
        QCOMPARE(f.Frame.POT_Volume_B->Value(), -20.0);
        f.Frame.SetGroup(two);
        QVERIFY(f.Frame.VolumeLock());
        QVERIFY(f.Frame.Vol_L->isVisible() && !f.Frame.Vol_U->isVisible());
        QCOMPARE(f.Frame.Panel2->text(), QStringLiteral("-40dB"));
    }
    QCOMPARE(one->Volume_A(), -10.0);
    QCOMPARE(one->Volume_B(), -20.0);
    QCOMPARE(two->Volume_A(), -40.0);
    QCOMPARE(two->Volume_B(), -40.0);
    QCOMPARE(two->Limiter_A(), 120.0);
    QCOMPARE(two->Limiter_B(), 130.0);
    QCOMPARE(one->Limiter_A(), 10.0);
}

void TestGroupFrame::turningALockOnSetsBToA() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    g->SetSensitivity_A(-5);
    g->SetSensitivity_B(-25);
    f.Frame.SetGroup(g);
    Click(f.Frame.Sen_U);
    QVERIFY(f.Frame.SensitivityLock());
    QVERIFY(g->Sensitivity_Lock());
    QCOMPARE(g->Sensitivity_B(), -5.0);
    QCOMPARE(f.Frame.POT_Sensitivity_B->Value(), -5.0);
    QCOMPARE(f.Frame.Panel35->text(), QStringLiteral("-5dB"));
    g->SetSensitivity_B(-30); // a value from elsewhere: unlocking must not touch it
    Click(f.Frame.Sen_L);
    QVERIFY(!g->Sensitivity_Lock());
    QCOMPARE(g->Sensitivity_A(), -5.0);
    QCOMPARE(g->Sensitivity_B(), -30.0);
    QVERIFY(f.Frame.Sen_U->isVisible());
}

void TestGroupFrame::limiterLockMovesAWithB() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    f.Frame.SetGroup(g);
    f.Frame.SetLimiterLock(true);
    const double before = f.Frame.POT_Limiter_A->Value();
    Drag(f.Frame.POT_Limiter_B, -20); // up from the group's 10 V: a higher limiter
    const double b = f.Frame.POT_Limiter_B->Value();
    QVERIFY(b > before);
    QCOMPARE(f.Frame.POT_Limiter_A->Value(), b);
    QCOMPARE(g->Limiter_A(), b);
    QCOMPARE(g->Limiter_B(), b);
    QCOMPARE(f.Frame.LED_Limiter_CH1->Position(), f.Frame.LED_Limiter_CH2->Position());
}

void TestGroupFrame::draggingAFaderReachesTheDevicesThroughTheGroup() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* d = new TDevice(g, "192.168.1.20", "A", "A");
    f.Frame.SetGroup(g);
    Drag(f.Frame.POT_Volume_A, -30); // up from the group's -95.5 dB: louder
    const double v = f.Frame.POT_Volume_A->Value();
    QVERIFY(v > -95.5);
    QCOMPARE(g->Volume_A(), v); // the exact fader value, not the label's
    QCOMPARE(d->Volume_A(), v);
    QVERIFY(d->Commands().contains("/common_settings_values1=" + d->SettingsValue()));
    QCOMPARE(f.Frame.Panel2->text(), TGroupFrame::LevelText(v));
    QCOMPARE(f.Frame.LED_Volume_CH1->Position(),
             TGroupFrame::LedPosition(f.Frame.POT_Volume_A->InternalValue()));
    QCOMPARE(d->Volume_B(), -95.5); // unlocked: channel B untouched
}

void TestGroupFrame::labelRounding_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("limiter");
    QTest::newRow("-95.5") << -95.5 << "-95.5dB"
                           << "-96V";
    QTest::newRow("-31.75 to even -64") << -31.75 << "-32dB"
                                        << "-32V";
    QTest::newRow("-31.25 to even -62") << -31.25 << "-31dB"
                                        << "-31V";
    QTest::newRow("-32") << -32.0 << "-32dB"
                         << "-32V";
    QTest::newRow("-31.5") << -31.5 << "-31.5dB"
                           << "-32V";
    QTest::newRow("0") << 0.0 << "0dB"
                       << "0V";
    QTest::newRow("50.5 volts to even") << 50.5 << "50.5dB"
                                        << "50V";
    QTest::newRow("49.6") << 49.6 << "49.5dB"
                          << "50V";
}

void TestGroupFrame::labelRounding() {
    QFETCH(double, value);
    QFETCH(QString, level);
    QFETCH(QString, limiter);
    QCOMPARE(TGroupFrame::LevelText(value), level);
    QCOMPARE(TGroupFrame::LimiterText(value), limiter);
}

void TestGroupFrame::limiterWarningsFollowTheModels() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* kv20 = new TDevice(g, "192.168.1.20", "A", "A");
    TDevice* kv30 = new TDevice(g, "192.168.1.21", "B", "B");
    f.Frame.SetGroup(g);
    f.Frame.POT_Limiter_A->SetValue(101);
    QVERIFY(f.Frame.KV20_Warning->isHidden()); // nobody has reported a model yet
    EditStatus(*kv20, [](TDeviceStatus& s) { s.PD_Model.Set("KV-20"); });
    f.Frame.Timer1Timer();
    QVERIFY(f.Frame.KV20_Warning->isVisible());
    QVERIFY(f.Frame.KV30_Warning->isHidden());
    f.Frame.POT_Limiter_A->SetValue(100); // exactly the maximum: no warning
    QVERIFY(f.Frame.KV20_Warning->isHidden());
    EditStatus(*kv30, [](TDeviceStatus& s) { s.PD_Model.Set("KV-30"); });
    f.Frame.POT_Limiter_B->SetValue(156);
    QVERIFY(f.Frame.KV20_Warning->isVisible());
    QVERIFY(f.Frame.KV30_Warning->isVisible());
    f.Frame.POT_Limiter_B->SetValue(155);
    QVERIFY(f.Frame.KV30_Warning->isHidden());
    EditStatus(*kv30, [](TDeviceStatus& s) { s.PD_Model.Set("kv-30"); }); // compared exactly
    f.Frame.POT_Limiter_B->SetValue(160);
    QVERIFY(f.Frame.KV30_Warning->isHidden());
}

void TestGroupFrame::muteButtonsSetTheGroupMute() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    f.Frame.SetGroup(g);
    auto* state = f.Frame.findChild<QLabel*>("GroupMuteState");
    auto* on = f.Frame.findChild<TImageButton*>("MUTE_ON_ALL");
    auto* off = f.Frame.findChild<TImageButton*>("MUTE_OFF_ALL");
    QVERIFY(state && on && off);
    QCOMPARE(state->text(), QStringLiteral("GROUP NOT MUTED"));
    Click(on);
    QVERIFY(g->Mute());
    QCOMPARE(state->text(), QStringLiteral("GROUP MUTED"));
    QCOMPARE(on->frameShape(), QFrame::Panel); // the button in force looks pressed
    Click(off);
    QVERIFY(!g->Mute());
    g->SetMute(true); // as the mute matrix or a project file sets it: shown at once
    QCOMPARE(state->text(), QStringLiteral("GROUP MUTED"));
    QCOMPARE(off->frameShape(), QFrame::NoFrame);
}

void TestGroupFrame::everySetGroupWritesLabelsAndBars() {
    TPanelFixture f;
    // A group that holds the faders' start values: no fader moves when it is shown.
    TGroup* g = f.AddGroup("G");
    for (auto set :
         {&TGroup::SetVolume_A, &TGroup::SetVolume_B, &TGroup::SetSensitivity_A, &TGroup::SetSensitivity_B})
        (g->*set)(-32, TChangeSource::Ui());
    g->SetLimiter_A(50);
    g->SetLimiter_B(50);
    f.Frame.SetGroup(g);
    for (QLabel* label : {f.Frame.Panel2, f.Frame.Panel15, f.Frame.Panel25, f.Frame.Panel35})
        QCOMPARE(label->text(), QStringLiteral("-32dB"));
    QCOMPARE(f.Frame.Panel45->text(), QStringLiteral("50V"));
    QCOMPARE(f.Frame.Panel55->text(), QStringLiteral("50V"));
    QVERIFY(f.Frame.LED_Volume_CH2->Position() > 0 && f.Frame.LED_Limiter_CH1->Position() > 0);
}

void TestGroupFrame::panelHidesWhenItsGroupGoes() {
    TPanelFixture f;
    TGroup* g = f.AddGroup("G");
    TGroup* other = f.AddGroup("H");
    connect(f.Registry.get(), &TGroups::GroupDestroying, &f.Frame,
            [&](TGroup*) { f.Frame.SetGroup(nullptr); });
    f.Frame.SetGroup(g);
    delete other; // another group: the panel is cleared all the same
    QVERIFY(f.Frame.isHidden());
    f.Frame.SetGroup(g);
    delete g;
    QVERIFY(f.Frame.isHidden());
    QCOMPARE(f.Frame.Group(), nullptr);
    f.Frame.Timer1Timer(); // no group: stays hidden, reads nothing
    QVERIFY(f.Frame.isHidden());
}

QTEST_MAIN(TestGroupFrame)
#include "tst_GroupFrame.moc"
