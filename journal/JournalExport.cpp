#include "journal/JournalExport.h"

#include <QFileInfo>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>
#include <functional>

namespace {
constexpr int kFlushBytes = 256 * 1024;

const char* const kEntryFields[] = {"id",        "time",     "lastTime", "severity",   "event", "address",
                                    "shortName", "longName", "group",    "channel",    "what",  "oldValue",
                                    "newValue",  "source",   "client",   "repeatCount"};
const char* const kHistoryFields[] = {"address",        "time",          "amplifierTemperature",
                                      "psuTemperature", "mainsVolts",    "fanPercent",
                                      "aPeakVolts",     "aAverageVolts", "aAverageAmperes",
                                      "bPeakVolts",     "bAverageVolts", "bAverageAmperes"};

QJsonValue Number(double v) {
    return std::isnan(v) ? QJsonValue() : QJsonValue(v);
}

QString NumberText(double v) {
    return std::isnan(v) ? QString() : QString::number(v, 'g', 10);
}

QJsonObject HistoryToJson(const THistorySample& s) {
    QJsonObject o;
    o.insert(QStringLiteral("address"), s.Address);
    o.insert(QStringLiteral("time"), IsoTime(s.TimeMs));
    o.insert(QStringLiteral("amplifierTemperature"), Number(s.AmplifierTemperature));
    o.insert(QStringLiteral("psuTemperature"), Number(s.PsuTemperature));
    o.insert(QStringLiteral("mainsVolts"), Number(s.MainsVolts));
    o.insert(QStringLiteral("fanPercent"), Number(s.FanPercent));
    const char* prefix[2] = {"a", "b"};
    for (int c = 0; c < 2; ++c) {
        const QString p = QLatin1String(prefix[c]);
        o.insert(p + QStringLiteral("PeakVolts"), Number(s.Channels[c].PeakVolts));
        o.insert(p + QStringLiteral("AverageVolts"), Number(s.Channels[c].AverageVolts));
        o.insert(p + QStringLiteral("AverageAmperes"), Number(s.Channels[c].AverageAmperes));
    }
    return o;
}

// Buffers the records and writes them in large pieces; remembers the first write failure.
class TSink {
public:
    TSink(QIODevice& out, TExportFormat format) : FOut(out), FFormat(format) {}

    void Header(const char* const* fields, std::size_t count) {
        if (FFormat == TExportFormat::Json) {
            FBuffer += "[";
            return;
        }
        QStringList names;
        for (std::size_t i = 0; i < count; ++i)
            names.append(QLatin1String(fields[i]));
        FBuffer += names.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    void CsvRecord(const QStringList& fields) {
        QString line;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                line += QLatin1Char(',');
            line += CsvField(fields[i]);
        }
        FBuffer += line.toUtf8() + "\r\n";
        Spill();
    }
    void JsonRecord(const QJsonObject& object) {
        FBuffer += FFirst ? "\n" : ",\n";
        FFirst = false;
        FBuffer += QJsonDocument(object).toJson(QJsonDocument::Compact);
        Spill();
    }
    bool Finish(QString& error) {
        if (FFormat == TExportFormat::Json)
            FBuffer += FFirst ? "]\n" : "\n]\n";
        Spill(true);
        if (!FError.isEmpty())
            error = FError;
        return FError.isEmpty();
    }

private:
    void Spill(bool all = false) {
        if (FBuffer.size() < kFlushBytes && !all)
            return;
        if (FError.isEmpty() && FOut.write(FBuffer) != FBuffer.size())
            FError = FOut.errorString();
        FBuffer.clear();
    }

    QIODevice& FOut;
    TExportFormat FFormat;
    QByteArray FBuffer;
    bool FFirst = true;
    QString FError;
};

qint64 ToFile(const QString& fileName, QString& error, const std::function<qint64(QIODevice&)>& write) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot create file ") + fileName;
        return -1;
    }
    const qint64 rows = write(file);
    if (rows < 0) {
        file.cancelWriting();
        return -1;
    }
    if (!file.commit()) {
        error = QStringLiteral("Cannot create file ") + fileName;
        return -1;
    }
    return rows;
}
} // namespace

std::optional<TExportFormat> ExportFormatFromName(const QString& name) {
    if (name.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        return TExportFormat::Csv;
    if (name.compare(QLatin1String("json"), Qt::CaseInsensitive) == 0)
        return TExportFormat::Json;
    return std::nullopt;
}

TExportFormat ExportFormatForFile(const QString& fileName) {
    return QFileInfo(fileName).suffix().compare(QLatin1String("json"), Qt::CaseInsensitive) == 0
               ? TExportFormat::Json
               : TExportFormat::Csv;
}

QString CsvField(const QString& text) {
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!quote)
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

qint64 ExportJournal(TJournalReader& reader, const TJournalFilter& filter, TExportFormat format,
                     QIODevice& out, QString& error) {
    TSink sink(out, format);
    sink.Header(kEntryFields, std::size(kEntryFields));
    const qint64 rows = reader.ForEachEntry(filter, [&](const TJournalEntry& e) {
        if (format == TExportFormat::Json) {
            sink.JsonRecord(EntryToJson(e));
        } else {
            sink.CsvRecord({QString::number(e.Id), IsoTime(e.TimeMs), IsoTime(e.EffectiveLastTimeMs()),
                            SeverityName(e.Severity), e.Event, e.Address, e.ShortName, e.LongName, e.Group,
                            e.Channel, e.What, e.OldValue, e.NewValue, SourceName(e.Source), e.Client,
                            QString::number(e.RepeatCount)});
        }
        return true;
    });
    if (rows < 0) {
        error = reader.Error();
        return -1;
    }
    return sink.Finish(error) ? rows : -1;
}

qint64 ExportHistory(TJournalReader& reader, const QString& address, qint64 sinceMs, qint64 untilMs,
                     TExportFormat format, QIODevice& out, QString& error) {
    const std::vector<THistorySample> samples = reader.History(address, sinceMs, untilMs);
    if (!reader.Error().isEmpty()) {
        error = reader.Error();
        return -1;
    }
    TSink sink(out, format);
    sink.Header(kHistoryFields, std::size(kHistoryFields));
    for (const THistorySample& s : samples) {
        if (format == TExportFormat::Json) {
            sink.JsonRecord(HistoryToJson(s));
            continue;
        }
        QStringList fields = {s.Address,
                              IsoTime(s.TimeMs),
                              NumberText(s.AmplifierTemperature),
                              NumberText(s.PsuTemperature),
                              NumberText(s.MainsVolts),
                              NumberText(s.FanPercent)};
        for (const THistoryChannel& c : s.Channels)
            fields << NumberText(c.PeakVolts) << NumberText(c.AverageVolts) << NumberText(c.AverageAmperes);
        sink.CsvRecord(fields);
    }
    return sink.Finish(error) ? qint64(samples.size()) : -1;
}

qint64 ExportJournalToFile(const QString& journalPath, const TJournalFilter& filter, TExportFormat format,
                           const QString& fileName, QString& error) {
    TJournalReader reader(journalPath);
    return ToFile(fileName, error,
                  [&](QIODevice& out) { return ExportJournal(reader, filter, format, out, error); });
}

qint64 ExportHistoryToFile(const QString& journalPath, const QString& address, qint64 sinceMs, qint64 untilMs,
                           TExportFormat format, const QString& fileName, QString& error) {
    TJournalReader reader(journalPath);
    return ToFile(fileName, error, [&](QIODevice& out) {
        return ExportHistory(reader, address, sinceMs, untilMs, format, out, error);
    });
}
