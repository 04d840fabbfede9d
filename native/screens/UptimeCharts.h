#pragma once

// The uptime heat map (hours across, days down, each hour coloured by its
// minutes up) and the small key drawn under it. Passive painted widgets: the
// uptime tab hands them their cells.

#include "native/services/NativeRecords.h"

#include <QList>
#include <QRectF>
#include <QWidget>

namespace kvr::screens {

class UptimeHeatmap : public QWidget {
    Q_OBJECT
public:
    explicit UptimeHeatmap(QWidget* parent = nullptr);

    void setCells(const QList<services::Native::UptimeCell>& cells);
    const QList<services::Native::UptimeCell>& cells() const { return m_cells; }
    int rows() const { return int(m_cells.size() / 24); }
    QRectF cellRect(int row, int column) const;
    // The hour under a point as (row, column), or (-1, -1).
    QPoint hitAt(const QPointF& pos) const;
    QPoint hovered() const { return {m_hoverColumn, m_hoverRow}; }
    // The tool tip of a cell.
    static QString tipFor(const services::Native::UptimeCell& cell);
    static QColor colorFor(int minutes);

    QSize minimumSizeHint() const override { return {420, 120}; }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QList<services::Native::UptimeCell> m_cells;
    int m_hoverColumn = -1;
    int m_hoverRow = -1;
};

class UptimeLegend : public QWidget {
    Q_OBJECT
public:
    explicit UptimeLegend(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {320, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kvr::screens
