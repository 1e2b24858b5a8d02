// Program start: "." as decimal separator, the application title, and every window created
// once, in a fixed order, for the whole run.
#include "api/ApiOptions.h"
#include "app/ApiControl.h"
#include "app/Fadelink2.h"
#include "device/ThreadCommUnit.h"
#include "model/Errors.h"
#include "ui/AboutBox.h"
#include "ui/DeviceNameFormUnit.h"
#include "ui/DiagramFormUnit.h"
#include "ui/Forms.h"
#include "ui/GroupNameFormUnit.h"
#include "ui/MuteFormUnit.h"
#include "ui/SearchFormUnit.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include <memory>

namespace {
constexpr int kThreadStopWaitMs = 1000;

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

    // The control API's options; the program takes no others.
    QCommandLineParser parser;
    parser.addHelpOption();
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

    int status = 0;
    {
        auto form1 = std::make_unique<TForm1>();
        // Owned by the main window; started before the window shows, so that a failure is seen.
        new TApiControl(form1.get(), TApiControl::ApiArguments(parser));
        auto searchForm = std::make_unique<TSearchForm>();
        SearchForm = searchForm.get();
        auto muteForm = std::make_unique<TMuteForm>();
        MuteForm = muteForm.get();
        auto form4 = std::make_unique<TForm4>();
        Form4 = form4.get();
        auto groupNameForm = std::make_unique<TGroupNameForm>();
        GroupNameForm = groupNameForm.get();
        auto deviceNameForm = std::make_unique<TDeviceNameForm>();
        DeviceNameForm = deviceNameForm.get();
        auto aboutBoxForm = std::make_unique<TAboutBoxForm>();
        AboutBoxForm = aboutBoxForm.get();

        // Closing the main window ends the program, whatever other windows are open.
        QApplication::setQuitOnLastWindowClosed(false);
        TQuitOnClose quitOnClose;
        form1->installEventFilter(&quitOnClose);
        form1->show();
        status = app.exec();

        // The main window goes first: its registry stops every poll thread.
        form1.reset();
        AboutBoxForm = nullptr;
        DeviceNameForm = nullptr;
        GroupNameForm = nullptr;
        Form4 = nullptr;
        MuteForm = nullptr;
        SearchForm = nullptr;
    }
    TSocketThread::WaitForAllThreads(kThreadStopWaitMs);
    return status;
}
