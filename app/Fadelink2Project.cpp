// Program start: "." as decimal separator, the application title, the session and the main
// window, which creates every other window once, in a fixed order, for the whole run.
#include "api/ApiOptions.h"
#include "app/ApiControl.h"
#include "app/Fadelink2.h"
#include "journal/JournalService.h"
#include "model/Errors.h"
#include "model/Session.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

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

    // The journal's and the control API's options; the program takes no others.
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption journalOption(QStringList{QStringLiteral("journal")},
                                           QStringLiteral("Keep the journal in PATH."),
                                           QStringLiteral("PATH"));
    parser.addOption(journalOption);
    AddApiOptions(parser);
    if (!parser.parse(QApplication::arguments())) {
        fprintf(stderr, "fadelink: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    try {
        ApiOptionsFrom(parser);
    } catch (const EFadelinkError& e) {
        fprintf(stderr, "fadelink: %s\n", qPrintable(e.Message));
        return 2;
    }

    TSession session;
    int status = 0;
    {
        // The journal outlives the windows and ends before the session does.
        TJournalService journal(session, parser.value(journalOption), QStringLiteral("fadelink"));
        auto form1 = std::make_unique<TForm1>(session);
        form1->SetJournal(&journal);
        // Owned by the main window, so it ends before the journal; started before the window
        // shows, so that a failure is seen.
        auto* api = new TApiControl(form1.get(), TApiControl::ApiArguments(parser));
        api->SetJournal(form1->Journal());
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
