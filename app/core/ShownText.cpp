#include "app/core/ShownText.h"

#include <algorithm>

namespace kvr::core {

QString shownText(const QString& text, qsizetype most)
{
    if (text.size() <= most)
        return text;
    most = std::max<qsizetype>(most, 3);
    qsizetype head = (most - 1) / 2;
    qsizetype tailFrom = text.size() - (most - 1 - head);
    if (text.at(head - 1).isHighSurrogate())
        --head;
    if (text.at(tailFrom).isLowSurrogate())
        ++tailFrom;
    QString out;
    out.reserve(most);
    out.append(QStringView(text).first(head)).append(QChar(0x2026)).append(QStringView(text).sliced(tailFrom));
    return out;
}

QString editedText(const QString& typed, const QString& stored, qsizetype most)
{
    if (stored.size() <= most)
        return typed;
    const QString shown = shownText(stored, most);
    return typed == shown || typed == shown.trimmed() ? stored : typed;
}

} // namespace kvr::core
