// fadelink-headless: runs a project without windows, for installations without an operator.
#include "api/ApiOptions.h"
#include "api/ApiService.h"
#include "app/HeadlessJournal.h"
#include "app/HeadlessRunner.h"
#include "app/HeadlessSearch.h"
#include "device/DeviceSearch.h"
#include "model/Constants.h"
#include "model/Errors.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

// The first thing the program does, so that no signal is lost while it starts or loads: SIGINT,
// SIGTERM and SIGHUP become an orderly end (the event loop takes it up as soon as it runs, or at
// once when it already does). SIGPIPE and SIGXFSZ are ignored: a log reader that went away, or a
// file-size limit, then shows as a failed write, which is reported, instead of ending the
// program before it could save.
void InstallSignalHandlers() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    // A signal storm fills the pair at worst; the handler must never block on it.
    ::fcntl(gSignalPipe[1], F_SETFL, ::fcntl(gSignalPipe[1], F_GETFL) | O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// Quits the event loop on the first of those signals.
void WatchQuitSignals(QCoreApplication& app) {
    if (gSignalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
}
} // namespace

int main(int argc, char** argv) {
    InstallSignalHandlers();
    QCoreApplication app(argc, argv);
    WatchQuitSignals(app);
    QCoreApplication::setApplicationName(QStringLiteral("fadelink-headless"));
    QCoreApplication::setApplicationVersion(FadelinkVersion);
    QLocale::setDefault(QLocale::c());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a Fadelink project without windows: reconciles every amplifier every 100 ms and prints\n"
        "one line whenever an amplifier's state changes:\n"
        "  TIME GROUP DEVICE ADDRESS online|fault|noanswer|offline\n"
        "where GROUP and DEVICE are the short names (\"-\" when blank), followed by \" - \" and the\n"
        "reason when an amplifier is off-line for a reason of its own. Control characters are\n"
        "written as escapes (\\x1b), a backslash as \\\\. Ends after --for seconds or on\n"
        "SIGINT/SIGTERM/SIGHUP, saving to --save first when given; when the lines cannot be\n"
        "written (the reader went away) that is said once on standard error and the run goes on.\n"
        "With --api and --osc it serves the control API (see docs/API.md); when it cannot, it says\n"
        "why on standard error and runs the project without it.\n"
        "Exit status: 0 ok, 1 the project could not be loaded or saved, 2 wrong usage.\n"
        "\n"
        "With --search FIRST-LAST, and no project, it searches the addresses from FIRST to LAST\n"
        "instead: FIRST is an IPv4 address, LAST one that differs from it in its last number only\n"
        "(127.0.14.1-127.0.14.9), or that last number alone (127.0.14.1-9), not below FIRST's; at most\n"
        "256 addresses. It prints one line per amplifier found, as the search window lists it:\n"
        "  ADDRESS XMODEL [GROUP] [NAME]\n"
        "then \"Search finished: N amplifiers found\" on standard error. Exit status: 0 the range\n"
        "was searched, 1 the search was stopped by a signal or could not start, 2 wrong usage.\n"
        "\n"
        "A run keeps the journal (--journal, by default $XDG_STATE_HOME/fadelink/journal.sqlite) and\n"
        "runs --alarm-exec CMD with /bin/sh for each new alarm, the alarm as JSON on its standard input.\n"
        "With --export-journal FILE, and no project, it writes the journal to FILE as CSV (or JSON for a\n"
        "\".json\" name, or as --format says), from --since on, and ends."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PROJECT.pac"), QStringLiteral("The project file to run."));
    const QCommandLineOption forOption(QStringList{QStringLiteral("for")},
                                       QStringLiteral("Run for SECONDS, then end."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption saveOption(QStringList{QStringLiteral("save")},
                                        QStringLiteral("On exit, save the project to OUT.pac."),
                                        QStringLiteral("OUT.pac"));
    const QCommandLineOption searchOption(
        QStringList{QStringLiteral("search")},
        QStringLiteral("Search the addresses FIRST to LAST for amplifiers instead."),
        QStringLiteral("FIRST-LAST"));
    const QCommandLineOption journalOption(QStringList{QStringLiteral("journal")},
                                           QStringLiteral("Keep the journal in PATH."),
                                           QStringLiteral("PATH"));
    const QCommandLineOption alarmExecOption(QStringList{QStringLiteral("alarm-exec")},
                                             QStringLiteral("Run CMD for each new alarm."),
                                             QStringLiteral("CMD"));
    const QCommandLineOption exportOption(QStringList{QStringLiteral("export-journal")},
                                          QStringLiteral("Write the journal to FILE instead, and end."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption sinceOption(QStringList{QStringLiteral("since")},
                                         QStringLiteral("Export the entries from ISO-TIME on."),
                                         QStringLiteral("ISO-TIME"));
    const QCommandLineOption formatOption(QStringList{QStringLiteral("format")},
                                          QStringLiteral("Export as csv or json."),
                                          QStringLiteral("csv|json"));
    parser.addOption(forOption);
    parser.addOption(saveOption);
    parser.addOption(searchOption);
    AddApiOptions(parser);
    parser.addOption(journalOption);
    parser.addOption(alarmExecOption);
    parser.addOption(exportOption);
    parser.addOption(sinceOption);
    parser.addOption(formatOption);
    if (!parser.parse(QCoreApplication::arguments())) {
        fprintf(stderr, "fadelink-headless: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printf("fadelink-headless %s\n", qPrintable(FadelinkVersion));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    QTextStream out(stdout);
    if (parser.isSet(searchOption)) {
        if (!positional.isEmpty() || parser.isSet(forOption) || parser.isSet(saveOption)) {
            fprintf(stderr, "fadelink-headless: --search takes no project file, --for or --save\n");
            return 2;
        }
        QString error;
        const std::optional<QStringList> addresses = ParseAddressRange(parser.value(searchOption), &error);
        if (!addresses) {
            fprintf(stderr, "fadelink-headless: --search %s: %s\n",
                    qPrintable(Printable(parser.value(searchOption))), qPrintable(error));
            return 2;
        }
        return RunSearch(*addresses, out);
    }
    if (parser.isSet(exportOption)) {
        if (!positional.isEmpty() || parser.isSet(forOption) || parser.isSet(saveOption)) {
            fprintf(stderr, "fadelink-headless: --export-journal takes no project file, --for or --save\n");
            return 2;
        }
        return RunExportJournal(parser.value(journalOption), parser.value(exportOption),
                                parser.value(sinceOption), parser.value(formatOption));
    }
    if (parser.isSet(sinceOption) || parser.isSet(formatOption)) {
        fprintf(stderr, "fadelink-headless: --since and --format go with --export-journal\n");
        return 2;
    }
    if (positional.size() != 1) {
        fprintf(stderr, "fadelink-headless: exactly one project file is needed (see --help)\n");
        return 2;
    }
    double seconds = -1;
    if (parser.isSet(forOption)) {
        bool ok = false;
        seconds = QLocale::c().toDouble(parser.value(forOption), &ok);
        if (!ok || seconds < 0 || seconds > 1e7) {
            fprintf(stderr, "fadelink-headless: --for takes a number of seconds\n");
            return 2;
        }
    }

    TApiOptions apiOptions;
    try {
        apiOptions = ApiOptionsFrom(parser);
    } catch (const EFadelinkError& e) {
        fprintf(stderr, "fadelink-headless: %s\n", qPrintable(e.Message));
        return 2;
    }

    // The window program opens a missing file as an empty project; an installation that runs
    // without an operator would then run nothing without a word, so here it is an error.
    const QFileInfo projectFile(positional.first());
    if (!projectFile.isFile() || !projectFile.isReadable()) {
        fprintf(stderr, "fadelink-headless: cannot read the project file '%s'\n",
                qPrintable(positional.first()));
        return 1;
    }

    int status = 0;
    {
        THeadlessRunner runner(out);
        runner.OpenJournal(parser.value(journalOption), parser.value(alarmExecOption));
        try {
            runner.Load(positional.first());
        } catch (const EFadelinkError& e) {
            fprintf(stderr, "%s\n", qPrintable(DisplayMessage(e.Message)));
            runner.Finish(QString());
            return 1;
        }
        if (seconds >= 0)
            QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
        TApiService api(runner.Session());
        api.SetJournal(runner.Journal()); // let go again before Finish ends the journal
        if (apiOptions.Api || apiOptions.Osc) {
            // The amplifiers are served whether or not the API can be.
            try {
                api.Start(apiOptions);
                fprintf(stderr, "fadelink-headless: %s\n", qPrintable(api.Description()));
            } catch (const EFadelinkError& e) {
                fprintf(stderr, "fadelink-headless: %s; running without it\n", qPrintable(e.Message));
            }
            fflush(stderr);
        }
        runner.Start();
        app.exec();
        api.Stop();
        api.SetJournal(nullptr);
        try {
            runner.Finish(parser.value(saveOption));
        } catch (const EFadelinkError& e) {
            fprintf(stderr, "%s\n", qPrintable(DisplayMessage(e.Message)));
            status = 1;
        }
    }
    return status;
}
