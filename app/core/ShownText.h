#pragma once

// Stored texts as screens take them: cut to what can be seen before any
// widget measures or lays them out.

#include "app/core/Tunables.h"

#include <QString>

namespace kvr::core {

// `text` itself when it holds at most `most` characters; else its start and
// its end with "…" between, `most` characters in all (names alike at their
// start, as in real organisations, still read apart by their end). A pair of
// UTF-16 surrogates is never split. Costs nothing for a text within bounds.
QString shownText(const QString& text, qsizetype most = tun::kShownLineChars);

// What an edit field filled with shownText(stored, most) gives back: while
// it still holds that cut form (`typed` as read from the field, trimmed or
// not), `stored` whole, so that saving a form never cuts a text the person
// did not touch; else `typed`.
QString editedText(const QString& typed, const QString& stored, qsizetype most = tun::kShownLineChars);

} // namespace kvr::core
