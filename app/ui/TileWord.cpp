#include "app/ui/TileWord.h"

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
        return TileFault::NoAnswer;
    default:
        return TileFault::Failed;
    }
}

} // namespace kvr::ui
