#pragma once

// The main window on a session whose devices run no poll thread, and the helpers that drive it as
// an operator would: its pop-up menu, its tree and its modal dialogs.

#include "app/Fadelink2.h"
#include "app/GroupDeviceTree.h"
#include "device/ThreadCommUnit.h"
#include "model/Session.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QtTest>

#include <functional>

// Acts on the next modal window (a dialog or a message box) once it is up.
inline void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

// The viewport point of a node of the tree, given its row path.
inline QPoint NodePoint(TForm1& form, int groupRow, int deviceRow = -1) {
    QAbstractItemModel* m = form.GroupDeviceTree->model();
    QModelIndex index = m->index(groupRow, 0);
    if (deviceRow >= 0)
        index = m->index(deviceRow, 0, index);
    form.GroupDeviceTree->expandAll();
    return form.GroupDeviceTree->visualRect(index).center();
}

// Poll threads off for the lifetime of a fixture: set before the session makes its registry.
struct TNoPollThreads {
    TNoPollThreads() { TSocketThread::SetPollThreadsEnabled(false); }
    ~TNoPollThreads() { TSocketThread::SetPollThreadsEnabled(true); }
};

struct TWindowFixture {
    TWindowFixture() {
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));
    }
    // The pop-up menu called at a point, then one of its commands.
    void Popup(const QPoint& at, QAction* command) {
        Form.TreePopupPopup(at);
        QVERIFY(command->isEnabled());
        command->trigger();
    }
    // A control of the main window or of one of its windows, by its object name.
    template <class T> T* Find(const char* name) const {
        if (T* found = Form.findChild<T*>(QLatin1String(name)))
            return found;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (T* found = window->objectName() == QLatin1String(name)
                               ? qobject_cast<T*>(window)
                               : window->findChild<T*>(QLatin1String(name)))
                return found;
        return nullptr;
    }
    TNoPollThreads NoPollThreads;
    TSession Session;
    TForm1 Form{Session};
};
