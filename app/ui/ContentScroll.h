#pragma once

// A window's content, whole where its screen has room for it and scrolled
// where it has not (a laptop's 1280 x 720 at a scale of 1.5 leaves a dialog
// 853 x 453 less its frame and a panel): it asks for all the room its content
// needs, and takes less. The window's title and buttons stay outside it, on
// the screen.

#include <QScrollArea>

namespace kvr::ui {

class ContentScroll : public QScrollArea {
    Q_OBJECT
public:
    // `content` scrolls up and down; with `across`, also from side to side
    // (content that cannot be laid out narrower than a small screen).
    explicit ContentScroll(QWidget* content, bool across = false, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

private:
    int barWidth() const;

    bool m_across;
};

} // namespace kvr::ui
