// ampsim: simulated amplifiers on loopback addresses, for demos and manual testing.
#include "tools/ampsim/AmpOptions.h"
#include "tools/ampsim/AmpRack.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop learns of the signal through the pipe.
void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

bool InstallSignalHandlers() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void PrintLine(FILE* stream, const QString& text) {
    const QByteArray line = text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ampsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(AMPSIM_VERSION));

    const TAmpSimOptions options = ParseAmpSimArguments(QCoreApplication::arguments());
    switch (options.Action) {
    case TAmpSimOptions::EAction::Help:
        std::fputs(AmpSimHelpText().toLocal8Bit().constData(), stdout);
        return 0;
    case TAmpSimOptions::EAction::Version:
        PrintLine(stdout, QStringLiteral("ampsim ") + QCoreApplication::applicationVersion());
        return 0;
    case TAmpSimOptions::EAction::UsageError:
        PrintLine(stderr, QStringLiteral("ampsim: ") + options.Error);
        PrintLine(stderr, QStringLiteral("Try 'ampsim --help' for more information."));
        return 2;
    case TAmpSimOptions::EAction::Run:
        break;
    }

    if (!InstallSignalHandlers()) {
        PrintLine(stderr, QStringLiteral("ampsim: cannot install the signal handlers"));
        return 1;
    }
    QSocketNotifier signalNotifier(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    TAmpRack rack;
    for (const TAmpConfig& config : options.Amps) {
        TAmpSim& amp = rack.Add(config);
        if (options.Log)
            amp.SetRequestObserver([](const TAmpSim& sim, const QString& path) {
                // The path may hold any byte the client sent; write it as received.
                const QByteArray line = sim.Endpoint().toLatin1() + ' ' + path.toLatin1() + '\n';
                std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
                std::fflush(stdout);
            });
    }
    if (!rack.Start()) {
        PrintLine(stderr, QStringLiteral("ampsim: ") + rack.ErrorString());
        return 1;
    }
    for (int i = 0; i < rack.Count(); ++i) {
        const TAmpState state = rack.Amp(i).State();
        PrintLine(stderr,
                  QStringLiteral("ampsim: %1 %2 name \"%3\" group \"%4\" serial %5")
                      .arg(rack.Amp(i).Endpoint(), QString::fromLatin1(state.Model),
                           QString::fromLatin1(state.DeviceName), QString::fromLatin1(state.GroupName),
                           QString::fromLatin1(state.SerialNumber)));
    }

    QCoreApplication::exec();
    rack.Stop();
    return 0;
}
