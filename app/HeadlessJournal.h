#pragma once

#include <QString>

// fadelink-headless --export-journal: writes the journal at `journalPath` (empty: the default
// place) to `fileName` as CSV or JSON (`format` "csv" or "json"; empty: by the file's suffix),
// from `since` (an ISO-8601 time; empty: from the start). Returns the exit status: 0 written,
// 1 the export failed, 2 wrong usage; says why on standard error.
int RunExportJournal(const QString& journalPath, const QString& fileName, const QString& since,
                     const QString& format);
