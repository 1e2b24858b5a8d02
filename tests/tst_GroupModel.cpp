// Groups and the registry: defaults, passing levels on, names, adoption, the tree mirror,
// destruction order and the address query.
#include "model/FindIPUnit.h"
#include "support/ModelFixture.h"

#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

namespace {
// The tree as text: one entry per node, device nodes indented.
QStringList TreeText(const TGroups& registry) {
    QStringList lines;
    const QStandardItemModel* m = registry.TreeNodes();
    for (int r = 0; r < m->rowCount(); ++r) {
        const QStandardItem* g = m->item(r);
        lines << g->text();
        for (int c = 0; c < g->rowCount(); ++c)
            lines << "  " + g->child(c)->text();
    }
    return lines;
}

// The settings command waiting in a device's queue, or empty text.
QString WaitingSettings(const TDevice* d) {
    for (const QString& c : d->Commands())
        if (c.startsWith("/common_settings_values1="))
            return c;
    return QString();
}
} // namespace

class TestGroupModel : public QObject {
    Q_OBJECT
private slots:
    void newRegistryAndGroupDefaults();
    void levelSettersPassOnlyChangedValuesToEveryMember();
    void lockSettersChangeNoDevice();
    void shortNameIsUpperCasedAndToldToTheMembers();
    void findGroupIgnoresCaseAndTrailingBlanks();
    void treeFollowsCreationAdoptionAndDeletion();
    void groupDestructionLetsWindowsGoFirst();
    void registryDestructionEmptiesTheTree();
    void ipAddressInUseComparesWholeTexts();
};

void TestGroupModel::newRegistryAndGroupDefaults() {
    TModelFixture f;
    QCOMPARE(f.Registry->GroupCount(), 0);
    QCOMPARE(f.Registry->Volume(), 0.0);
    QCOMPARE(f.Registry->Mute(), false);
    QCOMPARE(f.Registry->TreeNodes()->rowCount(), 0);

    TGroup* g = new TGroup(f.Registry.get());
    QCOMPARE(g->GroupNode()->text(), QStringLiteral("Undefined group [UNDEF]"));
    QCOMPARE(g->Volume_A(), -95.5);
    QCOMPARE(g->Volume_B(), -95.5);
    QCOMPARE(g->Sensitivity_A(), -95.5);
    QCOMPARE(g->Sensitivity_B(), -95.5);
    QCOMPARE(g->Limiter_A(), 10.0);
    QCOMPARE(g->Limiter_B(), 10.0);
    QVERIFY(!g->Volume_Lock() && !g->Sensitivity_Lock() && !g->Limiter_Lock() && !g->Mute());
    QCOMPARE(f.Registry->Group(0), g);
    QCOMPARE(f.Registry->TreeNodes()->item(0)->data(TGroups::NodeObjectRole).value<QObject*>(),
             static_cast<QObject*>(g));
    QSignalSpy volume(f.Registry.get(), &TGroups::VolumeChanged);
    f.Registry->SetVolume(-6);
    f.Registry->SetVolume(-6);
    f.Registry->SetMute(true);
    QCOMPARE(f.Registry->Volume(), -6.0);
    QVERIFY(f.Registry->Mute());
    QCOMPARE(volume.count(), 1); // once, for the change
}

void TestGroupModel::levelSettersPassOnlyChangedValuesToEveryMember() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    g->SetVolume_A(-12); // no members yet: only stored
    QCOMPARE(g->Volume_A(), -12.0);
    TDevice* a = new TDevice(g, "192.168.1.1", "A", "A");
    TDevice* b = new TDevice(g, "192.168.1.2", "B", "B");
    QCOMPARE(a->Volume_A(), -12.0); // taken at creation

    // A member that moved away from the group's value is left alone by an equal value...
    a->SetVolume_A(-30);
    g->SetVolume_A(-12);
    QCOMPARE(a->Volume_A(), -30.0);
    // ...and reached, with every other member, by a new one; the opposite channel is untouched.
    g->SetVolume_A(-6);
    QCOMPARE(a->Volume_A(), -6.0);
    QCOMPARE(b->Volume_A(), -6.0);
    QCOMPARE(a->Volume_B(), -95.5);
    g->SetLimiter_B(500); // the group keeps what it is given; each device clamps
    QCOMPARE(g->Limiter_B(), 500.0);
    QCOMPARE(b->Limiter_B(), 500.0); // the model is not known yet
    EditStatus(*b, [](TDeviceStatus& s) { s.PD_Model.Set("KV-20"); });
    g->SetLimiter_B(400);
    QCOMPARE(b->Limiter_B(), 100.0);
    QVERIFY(WaitingSettings(b).endsWith("100"));
    g->SetSensitivity_A(-3.5);
    g->SetSensitivity_B(-4);
    g->SetVolume_B(-1);
    g->SetLimiter_A(50);
    QCOMPARE(a->Sensitivity_A(), -3.5);
    QCOMPARE(a->Sensitivity_B(), -4.0);
    QCOMPARE(a->Volume_B(), -1.0);
    QCOMPARE(a->Limiter_A(), 50.0);
}

void TestGroupModel::lockSettersChangeNoDevice() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    g->SetVolume_A(-5);
    TDevice* d = new TDevice(g, "192.168.1.1", "A", "A");
    const QStringList queue = d->Commands();
    g->SetVolume_Lock(true);
    g->SetSensitivity_Lock(true);
    g->SetLimiter_Lock(true);
    QVERIFY(g->Volume_Lock() && g->Sensitivity_Lock() && g->Limiter_Lock());
    QCOMPARE(d->Commands(), queue);
    QCOMPARE(g->Volume_B(), -95.5); // nothing mirrored
}

void TestGroupModel::shortNameIsUpperCasedAndToldToTheMembers() {
    TModelFixture f;
    TGroup* g = f.AddGroup("GRP01", "Hall");
    TDevice* d = new TDevice(g, "192.168.1.1", "A", "A");
    while (!d->Commands().isEmpty())
        d->StoreResult(d->Commands().first(), false, QByteArray());
    g->SetShortName("abc");
    QCOMPARE(g->ShortName(), QStringLiteral("ABC"));
    QCOMPARE(g->GroupNode()->text(), QStringLiteral("Hall [ABC]"));
    QCOMPARE(d->Commands(), QStringList({"/group=ABC  "}));
    g->SetShortName("ABC"); // equal: nobody is told again
    QCOMPARE(d->Commands().size(), 1);
    g->SetShortName("abc"); // differs case-sensitively: told again (replaced in place)
    QCOMPARE(d->Commands(), QStringList({"/group=ABC  "}));
    g->SetShortName(QString::fromUtf8("bé1")); // only a-z are upper-cased
    QCOMPARE(g->ShortName(), QString::fromUtf8("Bé1"));
    QCOMPARE(d->Commands(), QStringList({"/group=B 1  "}));

    g->SetLongName("Hall"); // same name: node refreshed, no device told
    QCOMPARE(d->Commands().size(), 1);
    QCOMPARE(g->GroupNode()->text(), QString::fromUtf8("Hall [Bé1]"));
}

// Groups are found by short name with case and trailing blanks aside, through an index that
// must follow every rename and deletion; the first group in registry order leads.
void TestGroupModel::findGroupIgnoresCaseAndTrailingBlanks() {
    TModelFixture f;
    TGroup* hall = f.AddGroup("HALL", "Hall");
    TGroup* side = f.AddGroup("SIDE  ");
    QCOMPARE(f.AddGroup("hall ", "Other"), hall); // adds nothing, keeps the long name
    QCOMPARE(f.Registry->FindGroup("side"), side);
    QCOMPARE(f.Registry->FindGroup(" HALL"), nullptr);
    side->SetShortName("hall");
    QCOMPARE(f.Registry->FindGroup("SIDE"), nullptr);
    QCOMPARE(f.Registry->FindGroup("HALL"), hall);
    delete hall;
    QCOMPARE(f.Registry->FindGroup("Hall"), side);
    TGroup* x = f.AddGroup("X");
    side->SetShortName("Y");
    x->SetShortName("y");
    side->SetShortName("y");
    QCOMPARE(f.Registry->FindGroup("Y"), side); // earlier in the registry
    QCOMPARE(f.AddGroup(QString(300, 'a'))->ShortName(), QString(255, 'A'));
    QCOMPARE(f.Registry->GroupCount(), 3);
}

void TestGroupModel::treeFollowsCreationAdoptionAndDeletion() {
    TModelFixture f;
    TGroup* g1 = f.AddGroup("ONE", "One");
    TGroup* g2 = f.AddGroup("TWO", "Two");
    TDevice* a = new TDevice(g1, "192.168.1.1", "A", "A");
    TDevice* b = new TDevice(g2, "192.168.1.2", "B", "B");
    TDevice* c = new TDevice(g1, "192.168.1.3", "C", "C");
    QCOMPARE(TreeText(*f.Registry),
             QStringList({"One [ONE]", "  A [A    ]", "  C [C    ]", "Two [TWO]", "  B [B    ]"}));

    a->SetVolume_A(-7);
    g2->AdoptDevice(a); // to another group: last child there, own levels kept
    QCOMPARE(TreeText(*f.Registry),
             QStringList({"One [ONE]", "  C [C    ]", "Two [TWO]", "  B [B    ]", "  A [A    ]"}));
    QCOMPARE(a->Group(), g2);
    QCOMPARE(a->Volume_A(), -7.0);
    QCOMPARE(g2->Devices(), QList<TDevice*>({b, a}));
    QCOMPARE(a->parent(), g2);
    a->Reconcile(); // the amplifier learns its new group through the next pass
    QVERIFY(a->Commands().contains("/group=TWO  "));

    g2->AdoptDevice(b); // within its own group: moves to the end
    QCOMPARE(g2->Devices(), QList<TDevice*>({a, b}));
    QCOMPARE(TreeText(*f.Registry),
             QStringList({"One [ONE]", "  C [C    ]", "Two [TWO]", "  A [A    ]", "  B [B    ]"}));

    delete a;
    QCOMPARE(g2->Devices(), QList<TDevice*>({b}));
    delete g1;
    QCOMPARE(TreeText(*f.Registry), QStringList({"Two [TWO]", "  B [B    ]"}));
    QCOMPARE(f.Registry->GroupCount(), 1);
    Q_UNUSED(c);
}

void TestGroupModel::groupDestructionLetsWindowsGoFirst() {
    TModelFixture f;
    TGroup* g = f.AddGroup("G");
    TDevice* d = new TDevice(g, "192.168.1.1", "A", "A");
    QStringList events;
    connect(f.Registry.get(), &TGroups::GroupDestroying, this, [&](TGroup* which) {
        events << "group";
        QCOMPARE(which, g);
        QCOMPARE(which->DeviceCount(), 1); // told before the devices go
    });
    connect(f.Registry.get(), &TGroups::DeviceDestroying, this, [&](TDevice* which) {
        events << "device";
        QCOMPARE(which, d);
    });
    delete g;
    QCOMPARE(events, QStringList({"group", "device"}));
    QCOMPARE(f.Registry->TreeNodes()->rowCount(), 0);
}

void TestGroupModel::registryDestructionEmptiesTheTree() {
    TModelFixture f;
    new TDevice(f.AddGroup("A"), "192.168.1.1", "A", "A");
    new TDevice(f.AddGroup("B"), "192.168.1.2", "B", "B");
    QSignalSpy destroying(f.Registry.get(), &TGroups::GroupDestroying);
    QPointer<QStandardItemModel> tree = f.Registry->TreeNodes();
    f.Registry.reset();
    QCOMPARE(destroying.count(), 2);
    QVERIFY(tree.isNull());
}

void TestGroupModel::ipAddressInUseComparesWholeTexts() {
    TModelFixture f;
    QVERIFY(!IPAddressInUse(*f.Registry, "192.168.1.23")); // an empty registry
    new TDevice(f.AddGroup("A"), "192.168.1.231", "A", "A");
    new TDevice(f.AddGroup("B"), "192.168.1.5", "B", "B");
    QVERIFY(!IPAddressInUse(*f.Registry, "192.168.1.23"));
    QVERIFY(IPAddressInUse(*f.Registry, "192.168.1.231"));
    QVERIFY(IPAddressInUse(*f.Registry, "192.168.1.5"));
    QVERIFY(!IPAddressInUse(*f.Registry, " 192.168.1.5"));
}

QTEST_GUILESS_MAIN(TestGroupModel)
#include "tst_GroupModel.moc"
