// Program start: "." as decimal separator, the application title, the session and the main
// window, which creates every other window once, in a fixed order, for the whole run.
#include "app/Fadelink2.h"
#include "journal/JournalService.h"
#include "model/Session.h"

#include <QApplication>
#include <QCommandLineParser>

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

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption journalOption(QStringList{QStringLiteral("journal")},
                                           QStringLiteral("Keep the journal in PATH."),
                                           QStringLiteral("PATH"));
    parser.addOption(journalOption);
    parser.process(app);

    TSession session;
    int status = 0;
    {
        // The journal outlives the windows and ends before the session does.
        TJournalService journal(session, parser.value(journalOption), QStringLiteral("fadelink"));
        auto form1 = std::make_unique<TForm1>(session);
        form1->SetJournal(&journal);
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
