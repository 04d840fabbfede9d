#include "app/core/SearchText.h"

namespace kvr::core {

namespace SearchText {

QString key(const QString& text)
{
    // Folded first, then composed: folding may leave a letter and its mark
    // apart ("İ" folds to "i" and a dot above).
    return text.toCaseFolded().normalized(QString::NormalizationForm_C);
}

bool contains(const QString& text, const QString& needle)
{
    return key(text).contains(key(needle));
}

} // namespace SearchText

} // namespace kvr::core
