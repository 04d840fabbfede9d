#include "app/ui/TileWord.h"

#include <QLabel>

namespace kvr::ui {

QString tileFaultWord(TileFault fault)
{
    switch (fault) {
    case TileFault::Offline:
        return QStringLiteral("Offline");
    case TileFault::NoAnswer:
        return QStringLiteral("No answer");
    case TileFault::Failed:
        break;
    }
    return QStringLiteral("Failed");
}

TileFault tileFaultOf(core::PlayerFailure failure)
{
    switch (failure) {
    case core::PlayerFailure::TimedOut:
    case core::PlayerFailure::Refused:
    case core::PlayerFailure::Unreachable:
        return TileFault::NoAnswer;
    default:
        return TileFault::Failed;
    }
}

bool showFaultWord(QLabel* word, QWidget* dot, bool say, TileFault fault)
{
    const QString text = say ? tileFaultWord(fault) : QString();
    if (text == word->text() && say == !word->isHidden())
        return false;
    word->setText(text);
    word->setVisible(say);
    dot->setVisible(!say);
    return true;
}

} // namespace kvr::ui
