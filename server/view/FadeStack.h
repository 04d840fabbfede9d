#pragma once

#include <QStackedWidget>

namespace kvr::view {

// The page stack of the server-mode main window: each newly shown page fades in.
class FadeStack : public QStackedWidget {
    Q_OBJECT
public:
    using QStackedWidget::QStackedWidget;

    // Makes the page current and fades it in over 220 ms; nothing for a null
    // or already current page. The page's opacity effect is removed when its
    // fade ends, so it paints directly again.
    void fadeTo(QWidget* page);
};

} // namespace kvr::view
