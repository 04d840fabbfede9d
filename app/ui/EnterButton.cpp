#include "app/ui/EnterButton.h"

#include <QDialog>
#include <QPushButton>

namespace kvr::ui {

void setEnterButton(QDialog* dialog, QPushButton* purpose)
{
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b == purpose || b->window() != dialog)
            continue;
        b->setDefault(false);
        b->setAutoDefault(false);
    }
    if (purpose) {
        purpose->setAutoDefault(true);
        purpose->setDefault(true);
    }
}

} // namespace kvr::ui
