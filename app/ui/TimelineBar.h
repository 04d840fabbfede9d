#pragma once

#include <QColor>
#include <QList>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <utility>

namespace kvr::ui {

// A 24-hour timeline: footage blocks, the playhead, the time under the mouse,
// and a click or drag that asks to play from a second of the day (0..86400);
// from the keyboard, the arrow keys ask for a minute either side of the
// playhead, Page Up and Page Down for ten minutes, Home for the day's start.
// Which clock the seconds belong to is the caller's business.
class TimelineBar : public QWidget {
    Q_OBJECT
public:
    explicit TimelineBar(QWidget* parent = nullptr);

    // Replaces the blocks and whether they are known, and repaints. With
    // `known` false the track is hatched and no block is drawn.
    void setCoverage(const QList<std::pair<double, double>>& blocks, bool known);
    // The same for footage gathered search by search: the blocks found show
    // even while the day is not `complete`, over the hatching.
    void setFoundCoverage(const QList<std::pair<double, double>>& blocks, bool complete);
    // Ignored while the user drags; negative hides the playhead.
    void setPlayhead(double seconds);
    void setAccent(const QColor& colour);
    void setInteractive(bool on);

    QList<std::pair<double, double>> coverage() const { return m_coverage; }
    bool coverageKnown() const { return m_coverageKnown; }
    bool blocksShown() const { return m_coverageKnown || m_blocksWhileUnknown; }
    double playhead() const { return m_playhead; }
    QColor accent() const { return m_accent; }

    QRectF trackRect() const;
    double xAt(double second) const;
    double secondAt(double x) const;
    // "HH:mm:ss" of a second, truncated and held within 0..86399.
    static QString clock(double seconds);
    // The hours that carry a label at a width: every 2 h from 700 px, else every 4 h.
    static bool isMajorHour(int hour, int width);
    // The second a key asks for from the playhead (none shown counts as the
    // day's start), held within the day; negative for a key that asks for
    // nothing.
    static double keyedSecond(double playhead, int key);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void seekRequested(double second);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<std::pair<double, double>> m_coverage;
    bool m_coverageKnown = false;
    bool m_blocksWhileUnknown = false;
    double m_playhead = -1;
    double m_hover = -1;
    bool m_dragging = false;
    bool m_interactive = true;
    QColor m_accent;
};

} // namespace kvr::ui
