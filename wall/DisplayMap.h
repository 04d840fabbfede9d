#pragma once

#include "wall/SetupRules.h"

#include <QWidget>

namespace kvr::wall {

namespace VideoWall {

struct Config;

// Every connected display as a box, placed and sized like the desktop, and
// below them the remembered displays that still have cameras. A click on a
// box, or the arrow keys, ask to edit that display. Reads the dialog's
// configuration; changes nothing itself.
class DisplayMap final : public QWidget {
    Q_OBJECT
public:
    using Box = SetupRules::MapBox;

    explicit DisplayMap(QWidget* parent = nullptr);

    void setConfig(const Config* config) { m_config = config; }
    void setSelectedKey(const QString& key) { m_selectedKey = key; }
    QString selectedKey() const { return m_selectedKey; }
    // The boxes for the displays connected now, the configuration and the
    // widget's size.
    QList<Box> boxes() const;

    // The key `step` boxes on from `current` in `keys`, stopping at the
    // ends; the first key when `current` is not among them.
    static QString stepKey(const QStringList& keys, const QString& current, int step);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void selected(const QString& key);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const Config* m_config = nullptr;
    QString m_selectedKey;
};

} // namespace VideoWall

} // namespace kvr::wall
