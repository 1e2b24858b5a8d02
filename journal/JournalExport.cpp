#include "journal/JournalExport.h"

#include <QFileInfo>
#include <QIODevice>
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

QString NumberText(double v) {
    return std::isnan(v) ? QString() : QString::number(v, 'g', 10);
}

// One JSON object, written field by field. Qt's JSON classes take ten microseconds an entry, too
// slow for exports of a hundred thousand rows on a busy machine; the text written is the same
// JSON (tests read it back with QJsonDocument).
class TJsonRecord {
public:
    // Appends the object to `out`; it is complete once End is called.
    explicit TJsonRecord(QByteArray& out) : FText(out) {}

    TJsonRecord& String(const char* key, const QString& value) {
        Key(key);
        FText += '"';
        const QByteArray utf8 = value.toUtf8();
        for (const char c : utf8) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                FText += '\\';
                FText += c;
            } else if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                switch (c) {
                case '\n':
                    FText += "\\n";
                    break;
                case '\r':
                    FText += "\\r";
                    break;
                case '\t':
                    FText += "\\t";
                    break;
                default:
                    FText += "\\u00";
                    FText += hex[u >> 4];
                    FText += hex[u & 15];
                }
            } else {
                FText += c;
            }
        }
        FText += '"';
        return *this;
    }
    TJsonRecord& Integer(const char* key, qint64 value) {
        Key(key);
        FText += QByteArray::number(value);
        return *this;
    }
    // NaN is null.
    TJsonRecord& Number(const char* key, double value) {
        Key(key);
        FText += std::isnan(value) ? QByteArray("null") : QByteArray::number(value, 'g', 10);
        return *this;
    }
    void End() { FText += '}'; }

private:
    void Key(const char* key) {
        FText += FFirst ? "{\"" : ",\"";
        FFirst = false;
        FText += key;
        FText += "\":";
    }
    QByteArray& FText;
    bool FFirst = true;
};

void AppendEntryJson(QByteArray& out, const TJournalEntry& e) {
    TJsonRecord(out)
        .Integer("id", e.Id)
        .String("time", IsoTime(e.TimeMs))
        .String("lastTime", IsoTime(e.EffectiveLastTimeMs()))
        .String("severity", SeverityName(e.Severity))
        .String("event", e.Event)
        .String("address", e.Address)
        .String("shortName", e.ShortName)
        .String("longName", e.LongName)
        .String("group", e.Group)
        .String("channel", e.Channel)
        .String("what", e.What)
        .String("oldValue", e.OldValue)
        .String("newValue", e.NewValue)
        .String("source", SourceName(e.Source))
        .String("client", e.Client)
        .Integer("repeatCount", e.RepeatCount)
        .End();
}

void AppendHistoryJson(QByteArray& out, const THistorySample& s) {
    TJsonRecord(out)
        .String("address", s.Address)
        .String("time", IsoTime(s.TimeMs))
        .Number("amplifierTemperature", s.AmplifierTemperature)
        .Number("psuTemperature", s.PsuTemperature)
        .Number("mainsVolts", s.MainsVolts)
        .Number("fanPercent", s.FanPercent)
        .Number("aPeakVolts", s.Channels[0].PeakVolts)
        .Number("aAverageVolts", s.Channels[0].AverageVolts)
        .Number("aAverageAmperes", s.Channels[0].AverageAmperes)
        .Number("bPeakVolts", s.Channels[1].PeakVolts)
        .Number("bAverageVolts", s.Channels[1].AverageVolts)
        .Number("bAverageAmperes", s.Channels[1].AverageAmperes)
        .End();
}

// Buffers the records and writes them in large pieces; remembers the first write failure.
class TSink {
public:
    TSink(QIODevice& out, TExportFormat format) : FOut(out), FFormat(format) {
        FBuffer.reserve(kFlushBytes * 2);
    }

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
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                FBuffer += ',';
            FBuffer += CsvField(fields[i]).toUtf8();
        }
        FBuffer += "\r\n";
        Spill();
    }
    // Appends one object through `write(buffer)`.
    template <typename TWrite> void JsonRecord(const TWrite& write) {
        FBuffer += FFirst ? "\n" : ",\n";
        FFirst = false;
        write(FBuffer);
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
        FBuffer.truncate(0); // keeps its capacity
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
            sink.JsonRecord([&](QByteArray& out) { AppendEntryJson(out, e); });
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
            sink.JsonRecord([&](QByteArray& out) { AppendHistoryJson(out, s); });
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
