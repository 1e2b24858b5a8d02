// Program start: "." as decimal separator, the application title, the session and the main
// window, which creates every other window once, in a fixed order, for the whole run.
#include "app/Fadelink2.h"
#include "model/Session.h"

#include <QApplication>

#include <memory>

namespace {
// Quits the event loop when the watched window is closed; closing is never refused.
class TQuitOnClose : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close)
            QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SetUpApplication();

    TSession session;
    int status = 0;
    {
        auto form1 = std::make_unique<TForm1>(session);
        // Closing the main window ends the program, whatever other windows are open.
        QApplication::setQuitOnLastWindowClosed(false);
        TQuitOnClose quitOnClose;
        form1->installEventFilter(&quitOnClose);
        form1->show();
        status = app.exec();
    }
    // The windows are gone; the registry goes next, stopping every poll thread, and the wait for
    // them is bounded.
    session.Shutdown();
    return status;
}
