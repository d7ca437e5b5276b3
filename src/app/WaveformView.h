#pragma once

#include "core/TranscriptSegment.h"
#include "review/WaveformPeaks.h"

#include <QWidget>

namespace vocalith {

class ReviewModel;

// A stretch of the recording's envelope with the segments drawn over it as regions and
// the playback position as a line. It pages along as playback moves on; a region's edge
// dragged sideways moves that segment's start or end; a click elsewhere asks to play
// from there.
class WaveformView final : public QWidget {
    Q_OBJECT

public:
    static constexpr double visibleSeconds = 20.0;

    explicit WaveformView(ReviewModel& model, QWidget* parent = nullptr);

    void setPeaks(WaveformPeaks peaks);
    // While the envelope is being read: the fraction done.
    void setProgress(double fraction);
    void setPosition(double seconds);
    void setCurrentRow(int row);
    double visibleStart() const { return m_start; }

    QSize sizeHint() const override { return {600, 90}; }
    QSize minimumSizeHint() const override { return {200, 60}; }

Q_SIGNALS:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double timeAt(double x) const;
    double xAt(double seconds) const;
    void reveal(double seconds);
    // The dragged row changed under the drag (deleted, undone): the drag is over.
    void dropStaleDrag();

    ReviewModel& m_model;
    WaveformPeaks m_peaks;
    double m_progress = 0.0;
    bool m_ready = false;
    double m_start = 0.0;
    double m_position = 0.0;
    int m_currentRow = -1;
    // The edge being dragged: its row as it was taken, which edge, and where it is now.
    int m_dragRow = -1;
    TranscriptSegment m_dragged;
    bool m_dragEnd = false;
    double m_dragTime = 0.0;
};

} // namespace vocalith
