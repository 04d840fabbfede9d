#pragma once

// A short confirmation over the bottom of a window's content that goes by
// itself after a while. Each window a person works in has its own, so that
// what it confirms shows where they are looking: a modal dialog shows its
// confirmations over itself, not in the window beneath it.

#include <QLabel>

class QTimer;

namespace kvr::screens {

class Toast : public QLabel {
    Q_OBJECT
public:
    // Lies over `host` (a window), centred near its bottom edge, and follows
    // its size.
    explicit Toast(QWidget* host);

    // Shows `text` for a while, in place of any toast still showing.
    void popUp(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QTimer* m_timer = nullptr;
};

} // namespace kvr::screens
