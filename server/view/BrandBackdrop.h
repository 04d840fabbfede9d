#pragma once

#include <QWidget>

class QVariantAnimation;

namespace kvr::view {

// A decorative backdrop: a stylised wall of camera tiles under two drifting
// glows, animated while it is shown.
class BrandBackdrop : public QWidget {
    Q_OBJECT
public:
    explicit BrandBackdrop(QWidget* parent = nullptr);

    double phase() const { return m_phase; }
    bool isAnimating() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation* m_animation = nullptr;
    double m_phase = 0;
};

} // namespace kvr::view
