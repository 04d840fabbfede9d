#include "app/core/TextDirection.h"

namespace kvr::core {

namespace TextDirection {

bool needsIsolation(const QString& text)
{
    for (const QChar c : text) {
        switch (c.direction()) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirLRE:
        case QChar::DirLRO:
        case QChar::DirPDF:
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
        case QChar::DirPDI:
            return true;
        default:
            break;
        }
    }
    return false;
}

QString isolate(const QString& text)
{
    if (!needsIsolation(text))
        return text;
    return QChar(0x2068) + text + QChar(0x2069);
}

} // namespace TextDirection

} // namespace kvr::core
