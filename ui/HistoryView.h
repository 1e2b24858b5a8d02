#pragma once

#include "journal/History.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class TJournal;
class TJournalQueryThread;

// One amplifier's last 24 hours from the journal's long-term history, in five stacked graphs:
// temperatures, mains voltage, fan speed, output peak voltage and output average current (A and
// B). A gap in the samples (the amplifier off-line, the program not running) is a gap in the
// lines. The diagram window can host it beside the amplifier's own 100-minute graphs.
class THistoryView : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kSpanMs = 24LL * 60 * 60 * 1000;

    explicit THistoryView(TJournal* journal, QWidget* parent = nullptr);
    ~THistoryView() override;

    // Reads the amplifier's last 24 hours in the background and shows them.
    void ShowAmplifier(const QString& address);
    // Shows `samples` over the 24 hours before `endMs`.
    void SetSamples(std::vector<THistorySample> samples, qint64 endMs);
    const std::vector<THistorySample>& Samples() const { return FSamples; }

    // A graph's value range: from the data's lowest to highest value widened to whole steps of
    // 1, 2 or 5 times a power of ten, about four steps; at least `minSpan` wide. NaN values do
    // not count; without values the range is 0 ... minSpan.
    struct TRange {
        double Low = 0;
        double High = 1;
        double Step = 1;
    };
    static TRange NiceRange(const std::vector<double>& values, double minSpan);
    // The runs of consecutive samples to draw as one line: a sample more than `gapMs` after the
    // one before starts a new run. Indices [first, last].
    static std::vector<std::pair<std::size_t, std::size_t>> Runs(const std::vector<qint64>& times,
                                                                 qint64 gapMs);

signals:
    void SamplesShown();

protected:
    void paintEvent(QPaintEvent* event) override;
    QSize sizeHint() const override { return QSize(900, 560); }

private:
    struct TSeries {
        QString Name;
        QColor Colour;
        std::function<double(const THistorySample&)> Value;
    };
    struct TGraph {
        QString Title;
        double MinSpan;
        std::vector<TSeries> Series;
    };
    void PaintGraph(QPainter& painter, const QRect& area, const TGraph& graph) const;

    TJournal* FJournal;
    std::unique_ptr<TJournalQueryThread> FQueries;
    std::vector<THistorySample> FSamples;
    qint64 FEndMs = 0;
    quint64 FGeneration = 0;
    std::vector<TGraph> FGraphs;
};
