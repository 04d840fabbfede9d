#include "tests/support/LongNames.h"

#include <QRegularExpression>
#include <QSet>

namespace longnames {

namespace {

const QChar kEllipsis(0x2026);

// Words as a person reads them: between spaces and punctuation, and "…".
QSet<QString> wordsOf(const QString& text)
{
    static const QRegularExpression kBetween(QStringLiteral("[\\s\u00B7,;:/()\\-_\u2013\u2014\u2026]+"));
    QSet<QString> out;
    for (const QString& w : text.split(kBetween, Qt::SkipEmptyParts))
        out.insert(w.toCaseFolded());
    return out;
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
    const QStringList floors{"ground", "first", "second", "third", "fourth", "fifth",
                             "sixth",  "seventh", "eighth", "ninth", "tenth", "eleventh"};
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

QStringList titles(const QList<Camera>& cameras)
{
    QStringList out;
    for (const Camera& c : cameras)
        out << c.recorder + QStringLiteral(" \u00B7 ") + c.name;
    return out;
}

bool sharesItsName(const QList<Camera>& cameras, qsizetype i)
{
    for (qsizetype j = 0; j < cameras.size(); ++j)
        if (j != i && cameras.at(j).name == cameras.at(i).name && cameras.at(j).recorder != cameras.at(i).recorder)
            return true;
    return false;
}

QStringList apartFaults(const QStringList& wholes, const QStringList& shown)
{
    QStringList faults;
    QList<QSet<QString>> whole;
    QList<QSet<QString>> kept; // whole words of its title that a shown title keeps
    for (qsizetype i = 0; i < wholes.size(); ++i) {
        whole << wordsOf(wholes.at(i));
        QSet<QString> k;
        for (const QString& w : wordsOf(shown.at(i)))
            if (whole.last().contains(w))
                k.insert(w);
        kept << k;
    }
    for (qsizetype i = 0; i < wholes.size(); ++i) {
        for (qsizetype j = 0; j < wholes.size(); ++j) {
            if (i == j || wholes.at(i) == wholes.at(j))
                continue;
            const QString a = shown.at(i);
            const QString b = shown.at(j);
            if (i < j
                && (bare(a) == bare(b) || (a.endsWith(kEllipsis) && bare(b).startsWith(bare(a)))
                    || (b.endsWith(kEllipsis) && bare(a).startsWith(bare(b)))))
                faults << QStringLiteral("tiles %1 and %2 read alike: \"%3\" and \"%4\"").arg(i + 1).arg(j + 1).arg(a, b);
            if ((kept.at(i) - whole.at(j)).isEmpty())
                faults << QStringLiteral("tile %1 \"%2\" keeps no word that tile %3 \"%4\" lacks")
                              .arg(i + 1)
                              .arg(a)
                              .arg(j + 1)
                              .arg(wholes.at(j));
        }
    }
    return faults;
}

} // namespace longnames
