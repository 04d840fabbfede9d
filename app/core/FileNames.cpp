#include "app/core/FileNames.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace kvr::core {

namespace FileNames {

QString safe(const QString& name)
{
    static const QRegularExpression outside(QStringLiteral("[^\\p{L}\\p{M}\\p{Nd}._-]+"));
    static const QRegularExpression leadingDots(QStringLiteral("^\\.[._]*"));
    QString out = name.normalized(QString::NormalizationForm_C);
    out.replace(outside, QStringLiteral("_"));
    out.replace(leadingDots, QStringLiteral("_"));
    return out;
}

QString safe(const QString& name, qsizetype bytes)
{
    const QString whole = safe(name);
    if (whole.toUtf8().size() <= bytes)
        return whole;
    // The longest run of whole characters (a letter with its marks, a pair
    // of surrogates) that fits.
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, whole);
    qsizetype fits = 0;
    qsizetype used = 0;
    qsizetype at = 0;
    for (qsizetype next = characters.toNextBoundary(); next > 0; next = characters.toNextBoundary()) {
        used += QStringView(whole).mid(at, next - at).toUtf8().size();
        if (used > bytes)
            break;
        fits = next;
        at = next;
    }
    return whole.left(fits);
}

qsizetype roomBefore(const QString& rest)
{
    return std::max<qsizetype>(0, kMaxNameBytes - rest.toUtf8().size());
}

} // namespace FileNames

} // namespace kvr::core
