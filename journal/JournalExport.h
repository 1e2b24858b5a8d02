#pragma once

#include "journal/JournalReader.h"

#include <QString>

#include <optional>

class QIODevice;

// Exports of the journal and of an amplifier's history, oldest first.
//
// CSV: a header row of the field names, then one record per entry, fields separated by commas,
// records ended by CRLF; a field holding a comma, a double quote, CR or LF is enclosed in double
// quotes, and each double quote in it doubled (RFC 4180). JSON: an array of objects, one per
// line. Times are ISO-8601 UTC with milliseconds in both; a value the amplifier did not report
// is empty (CSV) or null (JSON).
enum class TExportFormat { Csv, Json };
std::optional<TExportFormat> ExportFormatFromName(const QString& name); // "csv", "json"
// By the file name's suffix: ".json" is JSON, anything else CSV.
TExportFormat ExportFormatForFile(const QString& fileName);

// The field as a CSV field.
QString CsvField(const QString& text);

// Writes the entries matching `filter`. Returns the number written, or -1 with `error` set.
qint64 ExportJournal(TJournalReader& reader, const TJournalFilter& filter, TExportFormat format,
                     QIODevice& out, QString& error);
// Writes the samples of `address` from `sinceMs` to `untilMs`.
qint64 ExportHistory(TJournalReader& reader, const QString& address, qint64 sinceMs, qint64 untilMs,
                     TExportFormat format, QIODevice& out, QString& error);

// The same into a file, replaced only when the export is complete (QSaveFile).
qint64 ExportJournalToFile(const QString& journalPath, const TJournalFilter& filter, TExportFormat format,
                           const QString& fileName, QString& error);
qint64 ExportHistoryToFile(const QString& journalPath, const QString& address, qint64 sinceMs, qint64 untilMs,
                           TExportFormat format, const QString& fileName, QString& error);
