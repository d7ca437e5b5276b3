#include "WaveformView.h"

#include "review/ReviewModel.h"

#include <QMouseEvent>
#include <QPainter>

namespace vocalith {

namespace {

constexpr double grabPixels = 5.0;

} // namespace

WaveformView::WaveformView(ReviewModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    setAccessibleName(QStringLiteral("Waveform"));
    setAccessibleDescription(
        QStringLiteral("The recording's envelope with the segments; drag an edge to move it"));
    setMouseTracking(true);
    connect(&m_model, &ReviewModel::segmentsChanged, this, [this] {
        dropStaleDrag();
        update();
    });
}

void WaveformView::dropStaleDrag() {
    if (m_dragRow >= 0 &&
        (m_dragRow >= m_model.segments().size() || m_model.segments().at(m_dragRow) != m_dragged))
        m_dragRow = -1;
}

void WaveformView::setPeaks(WaveformPeaks peaks) {
    m_peaks = std::move(peaks);
    m_ready = true;
    update();
}

void WaveformView::setProgress(double fraction) {
    m_progress = fraction;
    update();
}

void WaveformView::setPosition(double seconds) {
    m_position = seconds;
    reveal(seconds);
    update();
}

void WaveformView::setCurrentRow(int row) {
    m_currentRow = row;
    if (row >= 0 && row < m_model.segments().size()) {
        const TranscriptSegment& segment = m_model.segments().at(row);
        reveal(segment.startTime);
        if (segment.endTime > m_start + visibleSeconds)
            reveal(segment.endTime);
    }
    update();
}

void WaveformView::reveal(double seconds) {
    if (seconds >= m_start && seconds <= m_start + visibleSeconds)
        return;
    // A new page, with a little of what came before for context.
    m_start = std::max(0.0, seconds - 2.0);
}

double WaveformView::timeAt(double x) const {
    return m_start + x / std::max(1, width()) * visibleSeconds;
}

double WaveformView::xAt(double seconds) const {
    return (seconds - m_start) / visibleSeconds * width();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette colours = palette();
    painter.fillRect(rect(), colours.base());
    const double middle = height() / 2.0;

    const QList<TranscriptSegment>& segments = m_model.segments();
    QColor region = colours.highlight().color();
    for (qsizetype row = 0; row < segments.size(); ++row) {
        double start = segments[row].startTime;
        double end = segments[row].endTime;
        if (row == m_dragRow)
            (m_dragEnd ? end : start) = m_dragTime;
        if (end < m_start || start > m_start + visibleSeconds)
            continue;
        region.setAlpha(row == m_currentRow ? 90 : 35);
        const QRectF area(QPointF(xAt(start), 0), QPointF(xAt(end), height()));
        painter.fillRect(area, region);
        painter.setPen(QPen(colours.highlight().color(), 1));
        painter.drawLine(area.topLeft(), area.bottomLeft());
        painter.drawLine(area.topRight(), area.bottomRight());
    }

    painter.setPen(colours.text().color());
    if (!m_ready) {
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("Reading the waveform… %1 %").arg(int(m_progress * 100)));
    } else {
        const double secondsPerPixel = visibleSeconds / std::max(1, width());
        for (int x = 0; x < width(); ++x) {
            const double from = timeAt(x);
            int low = 0;
            int high = 0;
            for (double t = from; t < from + secondsPerPixel; t += 1.0 / WaveformPeaks::perSecond) {
                const WaveformPeaks::Peak peak = m_peaks.at(t);
                low = std::min<int>(low, peak.low);
                high = std::max<int>(high, peak.high);
            }
            painter.drawLine(QPointF(x, middle - high / 128.0 * middle),
                             QPointF(x, middle - low / 128.0 * middle));
        }
    }
    painter.setPen(QPen(Qt::red, 2));
    const double position = xAt(m_position);
    painter.drawLine(QPointF(position, 0), QPointF(position, height()));
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    const double x = event->position().x();
    const QList<TranscriptSegment>& segments = m_model.segments();
    double nearest = grabPixels;
    m_dragRow = -1;
    for (qsizetype row = 0; row < segments.size(); ++row) {
        for (const bool end : {false, true}) {
            const double edge = end ? segments[row].endTime : segments[row].startTime;
            if (std::abs(xAt(edge) - x) < nearest) {
                nearest = std::abs(xAt(edge) - x);
                m_dragRow = int(row);
                m_dragged = segments[row];
                m_dragEnd = end;
                m_dragTime = edge;
            }
        }
    }
    if (m_dragRow < 0)
        Q_EMIT seekRequested(std::max(0.0, timeAt(x)));
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragRow < 0) {
        // An edge under the pointer can be taken.
        bool onEdge = false;
        for (const TranscriptSegment& segment : m_model.segments())
            onEdge = onEdge ||
                     std::abs(xAt(segment.startTime) - event->position().x()) < grabPixels ||
                     std::abs(xAt(segment.endTime) - event->position().x()) < grabPixels;
        setCursor(onEdge ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    // Shown where the model's own checked move would put it.
    const auto [lowest, highest] =
        m_model.edgeLimits(m_dragRow, m_dragEnd ? ReviewModel::End : ReviewModel::Start);
    m_dragTime = std::clamp(timeAt(event->position().x()), lowest, highest);
    update();
}

void WaveformView::mouseReleaseEvent(QMouseEvent*) {
    if (m_dragRow < 0)
        return;
    const int row = m_dragRow;
    m_dragRow = -1;
    m_model.moveEdge(row, m_dragEnd ? ReviewModel::End : ReviewModel::Start, m_dragTime);
    update();
}

} // namespace vocalith
