#pragma once

// One summary card of the fleet page: a coloured accent bar, a caption, a
// value and an optional detail line; clickable cards set a filter.

#include <QColor>
#include <QFrame>

class QLabel;

namespace kvr::screens {

class StatCard : public QFrame {
    Q_OBJECT
public:
    StatCard(const QString& label, const QColor& accent, bool clickable, QWidget* parent = nullptr);

    void setValue(const QString& value);
    void setDetail(const QString& detail);
    void setActive(bool active);

    QString value() const;
    QString detail() const;
    bool isActive() const { return property("active").toBool(); }
    bool isDetailShown() const;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_value = nullptr;
    QLabel* m_detail = nullptr;
    bool m_clickable = false;
};

} // namespace kvr::screens
