#include "app/HeadlessSearch.h"

#include "app/HeadlessRunner.h"
#include "device/DeviceSearch.h"
#include "model/Errors.h"

#include <QCoreApplication>

#include <cstdio>

int RunSearch(const QStringList& addresses, QTextStream& out) {
    TDeviceSearch search;
    int found = 0;
    bool ended = false;
    bool stopped = false;
    QObject::connect(&search, &TDeviceSearch::Found, [&](const TFoundDevice& device) {
        ++found;
        out << Printable(device.Line()) << Qt::endl;
    });
    QObject::connect(&search, &TDeviceSearch::Finished, [&](int, bool wasStopped) {
        ended = true;
        stopped = wasStopped;
        QCoreApplication::quit();
    });
    try {
        search.Start(addresses);
    } catch (const EFadelinkError& error) {
        fprintf(stderr, "fadelink-headless: %s\n", qPrintable(DisplayMessage(error.Message)));
        return 1;
    }
    QCoreApplication::exec();
    // Quit by a signal: what was found so far stands; the walk ends with the search.
    if (!ended)
        stopped = true;
    fprintf(stderr, "%s\n", qPrintable(SearchEndText(found, stopped)));
    return stopped ? 1 : 0;
}
