// The group and device name dialogs, driven through their real controls while they run modally.
#include "model/FindIPUnit.h"
#include "support/ModelFixture.h"
#include "ui/DeviceNameFormUnit.h"
#include "ui/GroupNameFormUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <functional>

namespace {
const QString kOwn = QStringLiteral("127.0.31.50");
const QString kOther = QStringLiteral("127.0.31.60");
const QString kInUse = QStringLiteral("This IP address is in use!");
const QString kNotAlphanumeric = QStringLiteral("Only alphanumeric characters are allowed");
constexpr int kStayedOpen = -2; // the result a run gives a dialog that its actions left open

// Runs `show` (which opens `dialog` modally), performs `act` once the dialog is the active modal
// window and closes it with kStayedOpen if `act` did not. Message boxes are answered with OK and
// their texts recorded; they need a timer of their own, as a timer does not fire again while its
// handler (here `act`) runs.
int RunModal(QDialog* dialog, const std::function<int()>& show, const std::function<void()>& act,
             QStringList* messages = nullptr) {
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (messages)
                *messages << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    QTimer actor;
    QObject::connect(&actor, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != dialog)
            return;
        actor.stop();
        act();
        if (dialog->isVisible())
            dialog->done(kStayedOpen);
    });
    boxes.start(5);
    actor.start(5);
    return show();
}

// A registry holding the device being edited (kOwn) and another one (kOther).
struct TTwoDevices : TModelFixture {
    TTwoDevices() {
        TGroup* g = AddGroup(QStringLiteral("G1"));
        new TDevice(g, kOwn, QStringLiteral("Own"), QStringLiteral("OWN"));
        new TDevice(g, kOther, QStringLiteral("Other"), QStringLiteral("OTHER"));
    }
};

void TypeInto(QSpinBox* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

int RedPixels(QWidget* dialog, const QRect& area) {
    const QImage image = dialog->grab(area).toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 160 && c.green() < 90 && c.blue() < 90;
        }
    return count;
}
} // namespace

class TestNameDialogs : public QObject {
    Q_OBJECT
private slots:
    void shortNameRule_data();
    void shortNameRule();
    void addressCheck_data();
    void addressCheck();
    void typedAddressPart_data();
    void typedAddressPart();
    void addressTextToFields_data();
    void addressTextToFields();
    void keys_data();
    void keys();
    void openingFocusAndTabOrder();
    void lookAtTheDesignSize();
};

void TestNameDialogs::shortNameRule_data() {
    QTest::addColumn<bool>("device");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<bool>("accepted");
    const std::pair<QString, bool> cases[] = {
        {"ab12", true},  {"ZA09", true},       {"", true},          {"ab-1", false},
        {"ab 1", false}, {"ab\u00e91", false}, {"ab\uff11", false}, {"_", false},
    };
    for (bool device : {false, true})
        for (const auto& [name, accepted] : cases)
            QTest::addRow("%s '%s'", device ? "device" : "group", qPrintable(name))
                << device << name << accepted;
}

void TestNameDialogs::shortNameRule() {
    QFETCH(bool, device);
    QFETCH(QString, shortName);
    QFETCH(bool, accepted);
    TGroupNameForm group;
    TDeviceNameForm dev;
    QDialog* dialog = device ? static_cast<QDialog*>(&dev) : &group;
    QLineEdit* field = device ? dev.DeviceShortName : group.GroupShortName;
    QStringList messages;
    const int result = RunModal(
        dialog,
        [&] {
            return device ? dev.ShowDeviceNameDialog(kOwn, "N", "X") : group.ShowGroupNameDialog("N", "X");
        },
        [&] {
            field->setText(shortName);
            QTest::mouseClick(device ? dev.ButtonOK : group.ButtonOK, Qt::LeftButton);
        },
        &messages);
    QCOMPARE(result, accepted ? int(QDialog::Accepted) : kStayedOpen);
    QCOMPARE(messages, accepted ? QStringList() : QStringList{kNotAlphanumeric});
    if (!accepted)
        QCOMPARE(dialog->focusWidget(), field);
}

void TestNameDialogs::addressCheck_data() {
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("typedLastPart"); // empty: the address is left as it was
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<bool>("warning");
    QTest::addColumn<QStringList>("messages");
    const QStringList none;
    QTest::newRow("own address unchanged") << kOwn << ""
                                           << "DEV01" << false << none;
    QTest::newRow("another device's address") << kOwn << "60"
                                              << "DEV01" << true << QStringList{kInUse};
    QTest::newRow("free address") << kOwn << "70"
                                  << "DEV01" << false << none;
    QTest::newRow("retyped own address") << kOwn << "50"
                                         << "DEV01" << false << none;
    QTest::newRow("new device onto a used one") << "127.0.31.231"
                                                << "60"
                                                << "D" << true << QStringList{kInUse};
    QTest::newRow("both fail: address message only") << kOwn << "60"
                                                     << "a-b" << true << QStringList{kInUse};
    QTest::newRow("bad short name, free address") << kOwn << "70"
                                                  << "a-b" << false << QStringList{kNotAlphanumeric};
}

void TestNameDialogs::addressCheck() {
    QFETCH(QString, initial);
    QFETCH(QString, typedLastPart);
    QFETCH(QString, shortName);
    QFETCH(bool, warning);
    QFETCH(QStringList, messages);
    TTwoDevices f;
    TDeviceNameForm dialog;
    dialog.SetRegistry(f.Registry.get());
    bool warningShown = !warning;
    QStringList seen;
    const int result = RunModal(
        &dialog, [&] { return dialog.ShowDeviceNameDialog(initial, "Name", shortName); },
        [&] {
            if (!typedLastPart.isEmpty())
                TypeInto(dialog.DeviceIP4, typedLastPart);
            warningShown = dialog.Label7->isVisible();
            QTest::mouseClick(dialog.ButtonOK, Qt::LeftButton);
        },
        &seen);
    QCOMPARE(warningShown, warning);
    QCOMPARE(seen, messages);
    QCOMPARE(result, messages.isEmpty() ? int(QDialog::Accepted) : kStayedOpen);
}

void TestNameDialogs::typedAddressPart_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("value");
    QTest::newRow("300 is held to 255") << "300" << 255;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("fourth digit, minus and letters refused") << "-1a23" << 123;
    QTest::newRow("blank keeps the old value") << "" << 168;
}

void TestNameDialogs::typedAddressPart() {
    QFETCH(QString, typed);
    QFETCH(int, value);
    TDeviceNameForm dialog;
    dialog.SetIPAddressText(QStringLiteral("192.168.1.5"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    TypeInto(dialog.DeviceIP2, typed);
    if (typed.isEmpty())
        QTest::keyClick(dialog.DeviceIP2, Qt::Key_Backspace);
    QTest::keyClick(dialog.DeviceIP2, Qt::Key_Return); // ends the editing of the field
    QCOMPARE(dialog.DeviceIP2->text(), QString::number(value));
    QCOMPARE(dialog.GetIPAddressText(), QStringLiteral("192.%1.1.5").arg(value));
}

void TestNameDialogs::addressTextToFields_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fields");
    QTest::newRow("four numbers") << "192.168.1.231"
                                  << "192.168.1.231";
    QTest::newRow("leading zeros and blanks") << "010.001. 2 .003"
                                              << "10.1.2.3";
    QTest::newRow("out of range") << "300.-5.2.3"
                                  << "255.0.2.3";
    QTest::newRow("too few parts") << "1.2.3"
                                   << "1.2.3.0";
    QTest::newRow("too many parts") << "1.2.3.4.5"
                                    << "1.2.3.4";
    QTest::newRow("empty part") << "1..3.4"
                                << "1.0.3.4";
    QTest::newRow("host with a port") << "127.0.0.5:8080"
                                      << "127.0.0.0";
    QTest::newRow("a name") << "amp-left"
                            << "0.0.0.0";
}

void TestNameDialogs::addressTextToFields() {
    QFETCH(QString, text);
    QFETCH(QString, fields);
    TDeviceNameForm dialog;
    dialog.SetIPAddressText(QStringLiteral("9.9.9.9"));
    dialog.SetIPAddressText(text);
    QCOMPARE(dialog.GetIPAddressText(), fields);
}

void TestNameDialogs::keys_data() {
    QTest::addColumn<bool>("device");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("key"); // 0: close the window
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("focusAfter");
    for (bool device : {false, true}) {
        const QString longName = device ? "DeviceLongName" : "GroupLongName";
        const QString shortName = device ? "DeviceShortName" : "GroupShortName";
        const char* d = device ? "device" : "group";
        QTest::addRow("%s: Enter in the long name", d)
            << device << longName << int(Qt::Key_Return) << kStayedOpen << shortName;
        QTest::addRow("%s: Enter in the short name", d)
            << device << shortName << int(Qt::Key_Enter) << 1 << "";
        QTest::addRow("%s: Escape", d)
            << device << longName << int(Qt::Key_Escape) << kStayedOpen << longName;
        QTest::addRow("%s: closing the window", d) << device << longName << 0 << 0 << "";
    }
    QTest::newRow("device: Enter in an address field")
        << true << "DeviceIP3" << int(Qt::Key_Return) << kStayedOpen << "";
}

void TestNameDialogs::keys() {
    QFETCH(bool, device);
    QFETCH(QString, field);
    QFETCH(int, key);
    QFETCH(int, result);
    QFETCH(QString, focusAfter);
    TGroupNameForm group;
    TDeviceNameForm dev;
    QDialog* dialog = device ? static_cast<QDialog*>(&dev) : &group;
    QString focused;
    QStringList messages;
    const int r = RunModal(
        dialog,
        [&] {
            return device ? dev.ShowDeviceNameDialog(kOwn, "N", "S1") : group.ShowGroupNameDialog("N", "S1");
        },
        [&] {
            if (key == 0)
                dialog->close();
            else
                QTest::keyClick(dialog->findChild<QWidget*>(field), Qt::Key(key));
            focused = dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
        },
        &messages);
    QCOMPARE(r, result);
    QCOMPARE(messages, QStringList());
    if (!focusAfter.isEmpty())
        QCOMPARE(focused, focusAfter);
}

void TestNameDialogs::openingFocusAndTabOrder() {
    TDeviceNameForm dialog;
    QStringList order;
    QString selected;
    RunModal(
        &dialog, [&] { return dialog.ShowDeviceNameDialog(kOwn, "Device Name", "DEV01"); },
        [&] {
            selected = dialog.DeviceLongName->selectedText();
            for (int i = 0; i < 9; ++i) {
                QWidget* w = dialog.focusWidget();
                while (w && w->objectName().isEmpty()) // a spin field's inner text field
                    w = w->parentWidget();
                order << (w ? w->objectName() : QString());
                QTest::keyClick(dialog.focusWidget(), Qt::Key_Tab);
            }
        });
    QCOMPARE(selected, QStringLiteral("Device Name"));
    QCOMPARE(order, QStringList({"DeviceLongName", "DeviceShortName", "ButtonOK", "ButtonCancel", "DeviceIP1",
                                 "DeviceIP2", "DeviceIP3", "DeviceIP4", "DeviceLongName"}));
}

// The red line painted exactly while the address is taken, every control at least its minimum
// size inside the fixed window, and the screenshots when FADELINK_SHOTS_DIR names a folder.
void TestNameDialogs::lookAtTheDesignSize() {
    TTwoDevices f;
    TDeviceNameForm device;
    TGroupNameForm group;
    device.SetRegistry(f.Registry.get());
    group.SetRegistry(f.Registry.get());
    const QString shots = qEnvironmentVariable("FADELINK_SHOTS_DIR");
    RunModal(
        &group, [&] { return group.ShowGroupNameDialog("Group Name", "GRP01"); },
        [&] {
            if (!shots.isEmpty())
                group.grab().save(shots + "/group-dialog.png");
        });
    int redWhenOwn = -1;
    int redWhenTaken = -1;
    RunModal(
        &device, [&] { return device.ShowDeviceNameDialog(kOwn, "Stage left", "SL01"); },
        [&] {
            redWhenOwn = RedPixels(&device, device.Label7->geometry());
            TypeInto(device.DeviceIP4, "60");
            redWhenTaken = RedPixels(&device, device.Label7->geometry());
            if (!shots.isEmpty())
                device.grab().save(shots + "/device-dialog.png");
        });
    QCOMPARE(redWhenOwn, 0);
    QVERIFY2(redWhenTaken > 30, qPrintable(QString::number(redWhenTaken)));
    QCOMPARE(group.size(), QSize(288, 129));
    QCOMPARE(device.size(), QSize(288, 187));
    for (QDialog* dialog : {static_cast<QDialog*>(&group), static_cast<QDialog*>(&device)})
        for (QWidget* w : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            const QSize least = w->minimumSizeHint();
            QVERIFY2(dialog->rect().contains(w->geometry()) && w->height() >= least.height() &&
                         w->width() >= least.width(),
                     qPrintable(w->objectName() + " does not fit"));
        }
}

QTEST_MAIN(TestNameDialogs)
#include "tst_NameDialogs.moc"
