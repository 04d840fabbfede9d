#include "tests/support/LongNames.h"

#include "app/core/TextDirection.h"

#include <algorithm>

namespace longnames {

namespace {

const QChar kEllipsis(0x2026);

bool wordChar(QChar c)
{
    return c.isLetterOrNumber();
}

// Where the last word of `text` starts, and where its first ends.
qsizetype lastWordStart(const QString& text)
{
    qsizetype at = text.size();
    while (at > 0 && wordChar(text.at(at - 1)))
        --at;
    return at;
}

qsizetype firstWordEnd(const QString& text)
{
    qsizetype at = 0;
    while (at < text.size() && wordChar(text.at(at)))
        ++at;
    return at;
}

// Whether `text` has `words` (one or several, as they stand) as whole words,
// whatever their case.
bool hasWords(const QString& text, const QString& words)
{
    for (qsizetype at = text.indexOf(words, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(words, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + words.size();
        if ((at == 0 || !wordChar(text.at(at - 1))) && (end == text.size() || !wordChar(text.at(end))))
            return true;
    }
    return false;
}

QString bare(QString s)
{
    return s.remove(kEllipsis).simplified();
}

} // namespace

QList<Camera> estate()
{
    const QString main = QStringLiteral("Reception and lobby recorder (32 channel), Tower B, main core");
    const QString annexe = QStringLiteral("Reception and lobby recorder (16 channel), Tower B, annexe");
    const QStringList floors{"ground", "first",   "second", "third", "fourth", "fifth",
                             "sixth",  "seventh", "eighth", "ninth", "tenth",  "eleventh"};
    QList<Camera> out;
    for (const QString& floor : floors)
        out.append({main, QStringLiteral("Tower B %1 floor reception desk and visitor queue, camera").arg(floor)});
    for (const char* floor : {"first", "third", "fifth", "sixth", "ninth"})
        out.append({main, QStringLiteral("Tower B %1 floor lift lobby and visitor queue, camera").arg(floor)});
    const QString lift = QStringLiteral("Tower B lift lobby and fire stairs, camera %1 of 24");
    for (int c = 1; c <= 7; ++c)
        out.append({main, lift.arg(c, 2, 10, QLatin1Char('0'))});
    for (int c = 1; c <= 6; ++c)
        out.append({annexe, lift.arg(c, 2, 10, QLatin1Char('0'))});
    for (int r = 1; r <= 6; ++r)
        out.append({annexe, QStringLiteral("Annexe car park level B1, ramp and bay row %1").arg(r)});
    return out;
}

QList<Camera> manyAlike()
{
    QList<Camera> out;
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 50; ++c)
            out.append({QStringLiteral("Distribution centre recorder, loading bays, unit %1").arg(r),
                        QStringLiteral("Camera %1").arg(c, 2, 10, QLatin1Char('0'))});
    const auto add = [&out](const QString& recorder, const QString& camera, int count) {
        for (int c = 1; c <= count; ++c)
            out.append({recorder, camera.arg(c, 2, 10, QLatin1Char('0'))});
    };
    add(QStringLiteral("مسجل مستودع جدة الرئيسي"), QStringLiteral("كاميرا رصيف التحميل %1"), 8);
    add(QStringLiteral("מקליט מחסן חיפה, אולם 2"), QStringLiteral("מצלמת רציף טעינה צפון %1"), 8);
    add(QStringLiteral("Enregistreur de l’entrepôt de Lyon, quai nord"),
        QStringLiteral("Caméra du quai de chargement, porte %1"), 7);
    add(QStringLiteral("Rekorder Lager Hamburg-Billbrook, Halle 3"), QStringLiteral("Kamera Laderampe Süd, Tor %1"), 7);
    return out;
}

QList<Camera> wallOf120(const QList<Camera>& catalogue)
{
    QList<Camera> out;
    for (qsizetype i = 0; i < catalogue.size(); ++i)
        if (i >= 150 || i % 50 < 30)
            out << catalogue.at(i);
    return out.mid(0, 120);
}

QStringList titles(const QList<Camera>& cameras)
{
    using kvr::core::TextDirection::isolate;
    QStringList out;
    for (const Camera& c : cameras)
        out << isolate(c.recorder) + QStringLiteral(" \u00B7 ") + isolate(c.name);
    return out;
}

bool sharesItsName(const QList<Camera>& cameras, qsizetype i)
{
    for (qsizetype j = 0; j < cameras.size(); ++j)
        if (j != i && cameras.at(j).name == cameras.at(i).name && cameras.at(j).recorder != cameras.at(i).recorder)
            return true;
    return false;
}

QStringList alikeFaults(const QStringList& wholes, const QStringList& shown)
{
    QStringList faults;
    for (qsizetype i = 0; i < wholes.size(); ++i) {
        for (qsizetype j = i + 1; j < wholes.size(); ++j) {
            const QString a = shown.at(i);
            const QString b = shown.at(j);
            if (wholes.at(i) != wholes.at(j)
                && (bare(a) == bare(b) || (a.endsWith(kEllipsis) && bare(b).startsWith(bare(a)))
                    || (b.endsWith(kEllipsis) && bare(a).startsWith(bare(b)))))
                faults
                    << QStringLiteral("tiles %1 and %2 read alike: \"%3\" and \"%4\"").arg(i + 1).arg(j + 1).arg(a, b);
        }
    }
    return faults;
}

QStringList apartFaults(const QStringList& wholes, const QStringList& shown)
{
    QStringList faults = alikeFaults(wholes, shown);
    // What each shown title keeps whole: its pieces between "…", each less a
    // word cut at either end.
    QList<QStringList> kept;
    for (qsizetype i = 0; i < wholes.size(); ++i) {
        QStringList runs;
        for (QString piece : shown.at(i).split(kEllipsis, Qt::SkipEmptyParts)) {
            piece = piece.trimmed();
            const qsizetype at = wholes.at(i).indexOf(piece);
            if (piece.isEmpty() || at < 0)
                continue;
            const qsizetype end = at + piece.size();
            if (end < wholes.at(i).size() && wordChar(wholes.at(i).at(end)) && wordChar(piece.back()))
                piece = piece.left(lastWordStart(piece));
            if (at > 0 && wordChar(wholes.at(i).at(at - 1)) && !piece.isEmpty() && wordChar(piece.front()))
                piece = piece.mid(firstWordEnd(piece));
            piece = piece.trimmed();
            if (!piece.isEmpty())
                runs << piece;
        }
        kept << runs;
    }
    for (qsizetype i = 0; i < wholes.size(); ++i) {
        for (qsizetype j = 0; j < wholes.size(); ++j) {
            if (i == j || wholes.at(i) == wholes.at(j))
                continue;
            const QStringList& runs = kept.at(i);
            if (std::none_of(runs.cbegin(), runs.cend(), [&](const QString& r) { return !hasWords(wholes.at(j), r); }))
                faults << QStringLiteral("tile %1 \"%2\" keeps no word that tile %3 \"%4\" lacks")
                              .arg(i + 1)
                              .arg(shown.at(i))
                              .arg(j + 1)
                              .arg(wholes.at(j));
        }
    }
    return faults;
}

} // namespace longnames
