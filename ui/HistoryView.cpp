#include "ui/HistoryView.h"

#include "journal/Journal.h"
#include "journal/JournalQueryThread.h"

#include <QDateTime>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {
constexpr qint64 kGapMs = 150 * 1000; // more than two missing minutes break the line
constexpr qint64 kHourMs = 60 * 60 * 1000;
constexpr int kLeftMargin = 56;
constexpr int kRightMargin = 12;
constexpr int kTitleHeight = 16;
constexpr int kTimeAxisHeight = 18;

const QColor kGrid(60, 60, 60);
const QColor kText(220, 220, 220);
} // namespace

THistoryView::THistoryView(TJournal* journal, QWidget* parent)
    : QWidget(parent), FJournal(journal), FQueries(std::make_unique<TJournalQueryThread>(journal->Path())) {
    setObjectName(QStringLiteral("HistoryView"));
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, kText);
    setPalette(colours);
    const auto channel = [](int c, double THistoryChannel::*field) {
        return [c, field](const THistorySample& s) { return s.Channels[std::size_t(c)].*field; };
    };
    FGraphs = {
        {QStringLiteral("Temperature (\u00B0C)"),
         10,
         {{QStringLiteral("amplifier"), QColor(255, 80, 80),
           [](const THistorySample& s) { return s.AmplifierTemperature; }},
          {QStringLiteral("PSU"), QColor(255, 170, 0),
           [](const THistorySample& s) { return s.PsuTemperature; }}}},
        {QStringLiteral("Mains (V)"),
         10,
         {{QStringLiteral("mains"), QColor(90, 160, 255),
           [](const THistorySample& s) { return s.MainsVolts; }}}},
        {QStringLiteral("Fan (%)"),
         10,
         {{QStringLiteral("fan"), QColor(180, 180, 180),
           [](const THistorySample& s) { return s.FanPercent; }}}},
        {QStringLiteral("Output peak voltage (V)"),
         10,
         {{QStringLiteral("A"), QColor(0, 230, 0), channel(0, &THistoryChannel::PeakVolts)},
          {QStringLiteral("B"), QColor(0, 200, 230), channel(1, &THistoryChannel::PeakVolts)}}},
        {QStringLiteral("Output average current (A)"),
         1,
         {{QStringLiteral("A"), QColor(0, 230, 0), channel(0, &THistoryChannel::AverageAmperes)},
          {QStringLiteral("B"), QColor(0, 200, 230), channel(1, &THistoryChannel::AverageAmperes)}}},
    };
}

THistoryView::~THistoryView() {
    FQueries.reset(); // waits for a query in progress; its answer is dropped with this object
}

void THistoryView::ShowAmplifier(const QString& address) {
    const quint64 generation = ++FGeneration;
    const qint64 end = FJournal->Now();
    FQueries->Post([this, generation, address, end](TJournalReader& reader) {
        std::vector<THistorySample> samples = reader.History(address, end - kSpanMs, end + 1);
        QMetaObject::invokeMethod(
            this,
            [this, generation, end, samples = std::move(samples)]() mutable {
                if (generation == FGeneration)
                    SetSamples(std::move(samples), end);
            },
            Qt::QueuedConnection);
    });
}

void THistoryView::SetSamples(std::vector<THistorySample> samples, qint64 endMs) {
    FSamples = std::move(samples);
    FEndMs = endMs;
    update();
    emit SamplesShown();
}

THistoryView::TRange THistoryView::NiceRange(const std::vector<double>& values, double minSpan) {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    for (double v : values) {
        if (std::isnan(v))
            continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (low > high) {
        low = 0;
        high = minSpan;
    }
    const double raw = std::max(high - low, minSpan) / 4;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normal = raw / magnitude;
    const double step = (normal <= 1 ? 1 : normal <= 2 ? 2 : normal <= 5 ? 5 : 10) * magnitude;
    TRange range;
    range.Step = step;
    range.Low = std::floor(low / step) * step;
    range.High = std::ceil(high / step) * step;
    if (range.High - range.Low < minSpan)
        range.High = range.Low + std::ceil(minSpan / step) * step;
    return range;
}

std::vector<std::pair<std::size_t, std::size_t>> THistoryView::Runs(const std::vector<qint64>& times,
                                                                    qint64 gapMs) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (runs.empty() || times[i] - times[i - 1] > gapMs)
            runs.emplace_back(i, i);
        else
            runs.back().second = i;
    }
    return runs;
}

void THistoryView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int graphs = int(FGraphs.size());
    const int height = (this->height() - kTimeAxisHeight) / graphs;
    for (int g = 0; g < graphs; ++g)
        PaintGraph(painter, QRect(0, g * height, width(), height), FGraphs[std::size_t(g)]);

    // The time axis: every three hours, local time.
    const QRect plot(kLeftMargin, 0, width() - kLeftMargin - kRightMargin, graphs * height);
    const qint64 start = FEndMs - kSpanMs;
    painter.setPen(kText);
    for (qint64 t = (start / (3 * kHourMs) + 1) * 3 * kHourMs; t <= FEndMs; t += 3 * kHourMs) {
        const int x = plot.left() + int(double(t - start) / kSpanMs * plot.width());
        painter.setPen(kGrid);
        painter.drawLine(x, plot.top(), x, plot.bottom());
        painter.setPen(kText);
        painter.drawText(QRect(x - 30, plot.bottom() + 2, 60, kTimeAxisHeight - 2), Qt::AlignCenter,
                         QDateTime::fromMSecsSinceEpoch(t).toLocalTime().toString(QStringLiteral("HH:mm")));
    }
}

void THistoryView::PaintGraph(QPainter& painter, const QRect& area, const TGraph& graph) const {
    const QRect plot(area.left() + kLeftMargin, area.top() + kTitleHeight,
                     area.width() - kLeftMargin - kRightMargin, area.height() - kTitleHeight - 4);
    std::vector<double> all;
    for (const TSeries& series : graph.Series)
        std::transform(FSamples.begin(), FSamples.end(), std::back_inserter(all), series.Value);
    const TRange range = NiceRange(all, graph.MinSpan);
    const auto y = [&](double v) {
        return plot.bottom() - (v - range.Low) / (range.High - range.Low) * plot.height();
    };
    const qint64 start = FEndMs - kSpanMs;
    const auto x = [&](qint64 t) { return plot.left() + double(t - start) / kSpanMs * plot.width(); };

    // The title, then each line's name in its colour.
    QRect titleRect(plot.left(), area.top(), plot.width(), kTitleHeight);
    painter.setPen(kText);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter, graph.Title);
    titleRect.setLeft(titleRect.left() + painter.fontMetrics().horizontalAdvance(graph.Title) + 10);
    if (graph.Series.size() > 1) {
        for (const TSeries& s : graph.Series) {
            painter.setPen(s.Colour);
            painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter, s.Name);
            titleRect.setLeft(titleRect.left() + painter.fontMetrics().horizontalAdvance(s.Name) + 10);
        }
    }
    const int steps = int(std::lround((range.High - range.Low) / range.Step));
    for (int i = 0; i <= steps; ++i) {
        const double v = range.Low + i * range.Step;
        painter.setPen(kGrid);
        painter.drawLine(QPointF(plot.left(), y(v)), QPointF(plot.right(), y(v)));
        painter.setPen(kText);
        painter.drawText(QRectF(area.left(), y(v) - 8, kLeftMargin - 6, 16),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 4));
    }
    painter.setPen(kGrid);
    painter.drawRect(plot);

    std::vector<qint64> times(FSamples.size());
    std::transform(FSamples.begin(), FSamples.end(), times.begin(),
                   [](const THistorySample& s) { return s.TimeMs; });
    const auto runs = Runs(times, kGapMs);
    for (const TSeries& series : graph.Series) {
        painter.setPen(QPen(series.Colour, 1.5));
        for (const auto& [first, last] : runs) {
            QPainterPath path;
            bool open = false;
            for (std::size_t i = first; i <= last; ++i) {
                const double v = series.Value(FSamples[i]);
                if (std::isnan(v)) {
                    open = false;
                    continue;
                }
                const QPointF point(x(FSamples[i].TimeMs), y(v));
                if (open)
                    path.lineTo(point);
                else
                    path.moveTo(point);
                open = true;
            }
            painter.drawPath(path);
        }
    }
}
