#include "app/HeadlessJournal.h"

#include "journal/JournalExport.h"
#include "journal/JournalOptions.h"

#include <QFileInfo>

#include <cstdio>

int RunExportJournal(const QString& journalPath, const QString& fileName, const QString& since,
                     const QString& format) {
    TJournalFilter filter;
    if (!since.isEmpty()) {
        const std::optional<qint64> ms = ParseIsoTime(since);
        if (!ms) {
            fprintf(stderr, "fadelink-headless: --since takes an ISO-8601 time (2024-05-01T20:00:00Z)\n");
            return 2;
        }
        filter.SinceMs = *ms;
    }
    TExportFormat exportFormat = ExportFormatForFile(fileName);
    if (!format.isEmpty()) {
        const std::optional<TExportFormat> named = ExportFormatFromName(format);
        if (!named) {
            fprintf(stderr, "fadelink-headless: --format takes csv or json\n");
            return 2;
        }
        exportFormat = *named;
    }
    const QString path = journalPath.isEmpty() ? DefaultJournalPath() : journalPath;
    // Reading must not start an empty journal where none was.
    if (!QFileInfo(path).isFile()) {
        fprintf(stderr, "fadelink-headless: there is no journal at '%s'\n", qPrintable(path));
        return 1;
    }
    QString error;
    const qint64 rows = ExportJournalToFile(path, filter, exportFormat, fileName, error);
    if (rows < 0) {
        fprintf(stderr, "fadelink-headless: the journal could not be exported: %s\n", qPrintable(error));
        return 1;
    }
    fprintf(stderr, "%lld journal entries written to %s\n", static_cast<long long>(rows),
            qPrintable(fileName));
    return 0;
}
