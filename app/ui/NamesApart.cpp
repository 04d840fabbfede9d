// Names shortened beside their siblings: the forms a shortened name may
// take, from the plainest (its start) to words picked from its middle, each
// kept only where no sibling could be shortened to it too.

#include "app/ui/NamesApart.h"

#include "app/core/TextDirection.h"

#include <QFontMetrics>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>
#include <span>
#include <vector>

namespace kvr::ui {

namespace {

const QChar kEllipsis(0x2026);
const QString kJoin = QStringLiteral(" \u00B7 ");
// What a font's elision puts before "…" to keep an Arabic letter joined.
const QChar kJoiner(0x200D);

// ---- Directions -------------------------------------------------------------------
// Names of right-to-left letters come isolated in titles (FIRST STRONG
// ISOLATE ... POP DIRECTIONAL ISOLATE). A name is shortened as it reads,
// without them; each part shown of one that holds right-to-left letters is
// isolated again in the direction of the whole part, so that its "…" stands
// on the side of the words it stands for (the left of a right-to-left name
// whose end is left out), however the text around it is laid out.

bool isIsolate(QChar c)
{
    return c.unicode() >= 0x2066 && c.unicode() <= 0x2069;
}

QString withoutIsolates(const QString& s)
{
    if (std::none_of(s.cbegin(), s.cend(), isIsolate))
        return s;
    QString out = s;
    out.removeIf(isIsolate);
    return out;
}

QStringList withoutIsolates(const QStringList& list)
{
    QStringList out;
    out.reserve(list.size());
    for (const QString& s : list)
        out << withoutIsolates(s);
    return out;
}

// Whether the text reads from right to left: its first letter of a strong
// direction does.
bool readsRightToLeft(const QString& text)
{
    for (const QChar c : text) {
        if (c.direction() == QChar::DirL)
            return false;
        if (c.direction() == QChar::DirR || c.direction() == QChar::DirAL)
            return true;
    }
    return false;
}

// `piece` (what is shown of `whole`) isolated in `whole`'s direction where
// `whole` holds right-to-left letters or direction controls; else as it is.
QString directed(const QString& piece, const QString& whole)
{
    if (!kvr::core::TextDirection::needsIsolation(whole))
        return piece;
    const QChar open(readsRightToLeft(whole) ? 0x2067 : 0x2066);
    return open + withoutIsolates(piece) + QChar(0x2069);
}

// The start of `text` that `metrics` keeps within `width` where it cuts the
// text's end, without its "…" and without the joiner it may put before it
// (which the text does not hold); the whole text where it fits.
QString keptStart(const QString& text, const QFontMetrics& metrics, int width)
{
    QString kept = metrics.elidedText(text, Qt::ElideRight, std::max(width, 0));
    if (kept == text || !kept.endsWith(kEllipsis))
        return kept;
    kept.chop(1);
    if (kept.endsWith(kJoiner) && !text.startsWith(kept))
        kept.chop(1);
    return kept;
}

bool isSeparator(QChar c)
{
    return c.isSpace() || c == QChar(0x00B7) || c == QLatin1Char(',') || c == QLatin1Char(';') || c == QLatin1Char(':')
        || c == QLatin1Char('/') || c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('-')
        || c == QLatin1Char('_') || c == QChar(0x2013) || c == QChar(0x2014);
}

// A word starts at a character that is not a separator, after one (or at
// the name's start).
bool startsWord(const QString& s, qsizetype at)
{
    return at < s.size() && !isSeparator(s.at(at)) && (at == 0 || isSeparator(s.at(at - 1)));
}

// The start of the word `at` lies in (or, at a separator, of the word before).
qsizetype wordStart(const QString& s, qsizetype at)
{
    qsizetype i = std::min(at, s.size() - 1);
    while (i > 0 && !startsWord(s, i))
        --i;
    return std::max<qsizetype>(i, 0);
}

qsizetype commonLength(const QString& a, const QString& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < n && a.at(i) == b.at(i))
        ++i;
    return i;
}

// Separators and spaces at the end of a kept start read as noise before "…".
QString trimmedEnd(QString s)
{
    while (!s.isEmpty() && isSeparator(s.back()))
        s.chop(1);
    return s;
}

// Whether a name shortened to `head` "…" `tail` could be `other` shortened:
// `other` begins with the head and ends with the tail (at a word's start,
// for tails that begin at one).
bool couldBe(const QString& head, const QString& tail, const QString& other, bool wordTail)
{
    if (head.size() + tail.size() > other.size() || !other.startsWith(head) || !other.endsWith(tail))
        return false;
    const qsizetype at = other.size() - tail.size();
    return !wordTail || tail.isEmpty() || at == 0 || isSeparator(other.at(at - 1)) || isSeparator(tail.at(0));
}

// A shortened form that no sibling could also be shortened to tells the name
// apart, whatever form each sibling shows.
bool tellsApart(const QString& head, const QString& tail, const QString& name, const QStringList& siblings,
                bool wordTail = true)
{
    for (const QString& s : siblings)
        if (s != name && couldBe(head, tail, s, wordTail))
            return false;
    return true;
}

// Whether `shown`, pieces of a name joined by "…", could also be `other`
// shortened the same way: each piece found in `other` in their order, a piece
// after "…" at a word's start, the first at its start unless "…" leads, the
// last at its end unless "…" ends it.
bool couldRead(const QString& shown, const QString& other)
{
    const QStringList pieces = shown.split(kEllipsis);
    qsizetype at = 0;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString& piece = pieces.at(i);
        if (piece.isEmpty())
            continue;
        const bool atWord = isSeparator(piece.at(0));
        if (i == 0) {
            if (!other.startsWith(piece) || (pieces.size() == 1 && other.size() != piece.size()))
                return false;
            at = piece.size();
        } else if (i == pieces.size() - 1) {
            const qsizetype from = other.size() - piece.size();
            return from >= at && other.endsWith(piece) && (atWord || startsWord(other, from));
        } else {
            qsizetype found = other.indexOf(piece, at);
            while (found >= 0 && !atWord && !startsWord(other, found))
                found = other.indexOf(piece, found + 1);
            if (found < 0)
                return false;
            at = found + piece.size();
        }
    }
    return true;
}

// Whether the first `kept` characters of `name` hold whole the word where it
// first differs from each sibling: "Tower B seco…" tells "second" from
// "seventh" floor, yet reads as neither.
bool keepsWhatDiffers(const QString& name, qsizetype kept, const QStringList& siblings)
{
    for (const QString& s : siblings) {
        qsizetype end = commonLength(name, s);
        if (end >= kept || isSeparator(name.at(end)))
            continue;
        while (end < name.size() && !isSeparator(name.at(end)))
            ++end;
        if (end > kept)
            return false;
    }
    return true;
}

// Whether `text` has `word` as a whole word, whatever its case.
bool hasWord(const QString& text, QStringView word)
{
    for (qsizetype at = text.indexOf(word, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(word, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + word.size();
        if ((at == 0 || isSeparator(text.at(at - 1))) && (end == text.size() || isSeparator(text.at(end))))
            return true;
    }
    return false;
}

// ---- Words picked from anywhere in the name ---------------------------------------

struct Word {
    qsizetype start;
    qsizetype end;
};

QList<Word> wordsOf(const QString& s)
{
    QList<Word> out;
    for (qsizetype i = 0; i < s.size();) {
        if (isSeparator(s.at(i))) {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < s.size() && !isSeparator(s.at(j)))
            ++j;
        out.append({i, j});
        i = j;
    }
    return out;
}

// Siblings as bits, one per sibling.
class Bits {
public:
    explicit Bits(qsizetype n = 0) : m_words(size_t((n + 63) / 64), 0) {}
    void set(qsizetype i) { m_words[size_t(i / 64)] |= quint64(1) << (i % 64); }
    bool test(qsizetype i) const { return (m_words[size_t(i / 64)] >> (i % 64)) & 1U; }
    Bits& operator|=(const Bits& o)
    {
        for (size_t k = 0; k < m_words.size(); ++k)
            m_words[k] |= o.m_words[k];
        return *this;
    }
    bool operator==(const Bits& o) const { return m_words == o.m_words; }

private:
    std::vector<quint64> m_words;
};

// The words of a name kept in a shortened form, each whole or cut to its
// first letters, drawn as runs of neighbouring words with "…" for what is
// left out between them and at either end.
class Picked {
public:
    Picked(const QString& name, const QList<Word>& words) : m_name(name), m_words(words) {}

    QList<qsizetype> kept;           // word indexes, ascending
    QHash<qsizetype, qsizetype> cut; // word index -> letters kept of it

    QString text() const
    {
        QString out;
        if (kept.isEmpty())
            return out;
        if (kept.first() > 0)
            out += kEllipsis;
        for (qsizetype r = 0; r < kept.size();) {
            qsizetype e = r;
            while (e + 1 < kept.size() && kept.at(e + 1) == kept.at(e) + 1)
                ++e;
            if (r > 0)
                out += kEllipsis;
            const Word& first = m_words.at(kept.at(r));
            const Word& last = m_words.at(kept.at(e));
            const qsizetype end = cut.contains(kept.at(e)) ? last.start + cut.value(kept.at(e)) : last.end;
            out += m_name.mid(first.start, end - first.start);
            r = e + 1;
        }
        if (kept.last() < m_words.size() - 1 || cut.contains(kept.last()))
            out += kEllipsis;
        return out;
    }

    // Words that end a run: the ones that may be cut.
    bool endsRun(qsizetype k) const
    {
        const qsizetype i = kept.indexOf(k);
        return i >= 0 && (i + 1 == kept.size() || kept.at(i + 1) != k + 1);
    }

private:
    const QString& m_name;
    const QList<Word>& m_words;
};

// How many siblings words picked from a name must tell it from.
enum class Reach {
    All,  // every one that words can tell it from
    Most, // as many as words that fit tell it from
};

// The fewest words of `name` that no sibling has all of, drawn with what lies
// between and around them as room allows ("…first floor…desk…"); where even
// they do not fit, the longest of them cut to their first letters. A sibling
// that has every word of the name cannot be told from it by words and does
// not count. Empty where no such form fits `width`; without `context` the
// words alone. Reaching `Most`, the words that tell it from the most
// siblings, one after another as long as they fit, whole.
QString wordsApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width,
                   bool context = true, Reach reach = Reach::All)
{
    const QList<Word> words = wordsOf(name);
    const qsizetype n = words.size();
    if (n == 0)
        return {};
    QStringList others;
    for (const QString& s : siblings)
        if (s != name && !others.contains(s))
            others << s;
    // lacking[k]: the siblings without word k.
    std::vector<Bits> lacking(size_t(n), Bits(others.size()));
    Bits coverable(others.size());
    for (qsizetype k = 0; k < n; ++k) {
        const QStringView word = QStringView(name).mid(words.at(k).start, words.at(k).end - words.at(k).start);
        for (qsizetype j = 0; j < others.size(); ++j)
            if (!hasWord(others.at(j), word))
                lacking[size_t(k)].set(j);
    }
    for (const Bits& b : lacking)
        coverable |= b;

    // Estimated widths: the words, and what lies between neighbouring ones.
    std::vector<int> wordWidth(static_cast<size_t>(n));
    std::vector<int> gapWidth(size_t(n), 0);
    for (qsizetype k = 0; k < n; ++k) {
        wordWidth[size_t(k)] =
            metrics.horizontalAdvance(name.mid(words.at(k).start, words.at(k).end - words.at(k).start));
        if (k + 1 < n)
            gapWidth[size_t(k)] =
                metrics.horizontalAdvance(name.mid(words.at(k).end, words.at(k + 1).start - words.at(k).end));
    }
    const int ellipsis = metrics.horizontalAdvance(kEllipsis);
    const auto estimate = [&](std::span<const qsizetype> set) {
        int w = set.front() > 0 ? ellipsis : 0;
        for (size_t i = 0; i < set.size(); ++i) {
            w += wordWidth[size_t(set[i])];
            if (i + 1 < set.size())
                w += set[i + 1] == set[i] + 1 ? gapWidth[size_t(set[i])] : ellipsis;
        }
        return w + (set.back() < n - 1 ? ellipsis : 0);
    };

    // The fewest words, and of as few the narrowest: one, two, three (a long
    // name's three are not all tried), else one at a time, each telling it
    // from the most siblings still left.
    QList<qsizetype> best;
    int bestWidth = std::numeric_limits<int>::max();
    Bits told(others.size());
    const auto consider = [&](std::initializer_list<qsizetype> set) {
        told = lacking[size_t(*set.begin())];
        for (auto k = set.begin() + 1; k != set.end(); ++k)
            told |= lacking[size_t(*k)];
        if (!(told == coverable))
            return;
        const int w = estimate(set);
        if (w < bestWidth) {
            best = QList<qsizetype>(set);
            bestWidth = w;
        }
    };
    // One word after another, each telling it from the most siblings still
    // left (of as many, the narrowest), within `room`.
    const auto pickInTurn = [&](int room) {
        told = Bits(others.size());
        while (!(told == coverable)) {
            qsizetype pick = -1;
            int most = 0;
            int pickWidth = 0;
            for (qsizetype k = 0; k < n; ++k) {
                if (best.contains(k))
                    continue;
                int more = 0;
                for (qsizetype j = 0; j < others.size(); ++j)
                    more += lacking[size_t(k)].test(j) && !told.test(j) ? 1 : 0;
                QList<qsizetype> with = best;
                with.insert(std::lower_bound(with.begin(), with.end(), k), k);
                const int w = estimate(with);
                if (w <= room && more > 0 && (more > most || (more == most && w < pickWidth))) {
                    most = more;
                    pick = k;
                    pickWidth = w;
                }
            }
            if (pick < 0)
                break;
            told |= lacking[size_t(pick)];
            best.insert(std::lower_bound(best.begin(), best.end(), pick), pick);
        }
    };
    if (reach == Reach::Most)
        pickInTurn(width);
    for (qsizetype a = 0; reach == Reach::All && a < n; ++a)
        consider({a});
    for (qsizetype a = 0; reach == Reach::All && best.isEmpty() && a < n; ++a)
        for (qsizetype b = a + 1; b < n; ++b)
            consider({a, b});
    for (qsizetype a = 0; reach == Reach::All && best.isEmpty() && n <= 16 && a < n; ++a)
        for (qsizetype b = a + 1; b < n; ++b)
            for (qsizetype c = b + 1; c < n; ++c)
                consider({a, b, c});
    if (reach == Reach::All && best.isEmpty())
        pickInTurn(std::numeric_limits<int>::max());
    if (best.isEmpty())
        return {};

    Picked picked(name, words);
    picked.kept = best;
    QString shown = picked.text();
    // Too wide: the longest word ending a run gives up letters, down to three.
    while (metrics.horizontalAdvance(shown) > width) {
        if (reach == Reach::Most) {
            // Estimated to fit, measured a little wider: the last word goes.
            picked.kept.removeLast();
            if (picked.kept.isEmpty())
                return {};
            shown = picked.text();
            continue;
        }
        qsizetype longest = -1;
        qsizetype letters = 3;
        for (qsizetype k : std::as_const(picked.kept)) {
            const qsizetype has = picked.cut.value(k, words.at(k).end - words.at(k).start);
            if (picked.endsRun(k) && has > letters) {
                longest = k;
                letters = has;
            }
        }
        if (longest < 0)
            return {};
        picked.cut.insert(longest, letters - 1);
        shown = picked.text();
    }
    // Cut words may read like a sibling's longer ones.
    if (!picked.cut.isEmpty()) {
        for (qsizetype j = 0; j < others.size(); ++j)
            if (coverable.test(j) && couldRead(shown, others.at(j)))
                return {};
        return shown;
    }
    // Room left: the words between the kept ones, then the words after and
    // before each run, as long as they fit.
    while (context) {
        QList<QList<qsizetype>> tries;
        for (qsizetype i = 0; i + 1 < picked.kept.size(); ++i) {
            QList<qsizetype> filled = picked.kept;
            for (qsizetype k = picked.kept.at(i) + 1; k < picked.kept.at(i + 1); ++k)
                filled.insert(filled.indexOf(k - 1) + 1, k);
            if (filled.size() > picked.kept.size())
                tries << filled;
        }
        for (bool after : {true, false})
            for (qsizetype k : std::as_const(picked.kept)) {
                const qsizetype next = after ? k + 1 : k - 1;
                // A letter alone beside "…" says nothing ("…B first…").
                const bool letter = next >= 0 && next < n && words.at(next).end - words.at(next).start == 1
                    && !name.at(words.at(next).start).isDigit();
                if (next >= 0 && next < n && !letter && !picked.kept.contains(next)) {
                    QList<qsizetype> grown = picked.kept;
                    grown.insert(std::lower_bound(grown.begin(), grown.end(), next), next);
                    tries << grown;
                }
            }
        bool grew = false;
        for (const QList<qsizetype>& t : std::as_const(tries)) {
            const QList<qsizetype> before = picked.kept;
            picked.kept = t;
            const QString longer = picked.text();
            if (metrics.horizontalAdvance(longer) <= width) {
                shown = longer;
                grew = true;
                break;
            }
            picked.kept = before;
        }
        if (!grew)
            break;
    }
    return shown;
}

// The narrowest form of `name` that tells it from `siblings`: its first
// words, its last words, or words picked from it; the whole name where none
// does.
QString leastApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics)
{
    QStringList forms;
    const QList<Word> words = wordsOf(name);
    for (qsizetype k = 0; k + 1 < words.size(); ++k) {
        const QString head = name.left(words.at(k).end);
        if (tellsApart(head, QString(), name, siblings)) {
            forms << head + kEllipsis;
            break;
        }
    }
    for (qsizetype k = words.size() - 1; k > 0; --k) {
        const QString tail = name.mid(words.at(k).start);
        if (tellsApart(QString(), tail, name, siblings)) {
            forms << kEllipsis + tail;
            break;
        }
    }
    if (const QString picked = wordsApart(name, siblings, metrics, std::numeric_limits<int>::max() / 2, false);
        !picked.isEmpty())
        forms << picked;
    QString least = name;
    for (const QString& f : std::as_const(forms))
        if (metrics.horizontalAdvance(f) < metrics.horizontalAdvance(least))
            least = f;
    return least;
}

// A name with no camera title's parts to weigh: its start, its start and its
// end, its end, words picked from it, the end of a word; else cut after what
// it shares with the sibling most like it.
QString plainApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(name) <= width)
        return name;
    const QString ellipsis(kEllipsis);
    // Alone, a name keeps its start and its end, where the cameras of one
    // recorder differ.
    if (std::none_of(siblings.cbegin(), siblings.cend(), [&name](const QString& s) { return s != name; }))
        return metrics.elidedText(name, Qt::ElideMiddle, std::max(width, 0));
    const QString rightCut = metrics.elidedText(name, Qt::ElideRight, std::max(width, 0));
    const QString kept = keptStart(name, metrics, width);
    if (tellsApart(kept, QString(), name, siblings) && keepsWhatDiffers(name, kept.size(), siblings)) {
        if (kept.size() >= name.size())
            return rightCut;
        // An Arabic letter cut off from the next keeps its joined form.
        const QString start = trimmedEnd(kept);
        const bool joined = start.size() == kept.size() && rightCut.endsWith(QString(kJoiner) + kEllipsis);
        return start + (joined ? QString(kJoiner) : QString()) + kEllipsis;
    }
    // The leading words every sibling shares say nothing of which one this is;
    // the sibling most like it differs from it latest.
    qsizetype common = name.size();
    qsizetype nearest = 0;
    for (const QString& s : siblings) {
        if (s == name)
            continue;
        const qsizetype alike = commonLength(name, s);
        common = std::min(common, alike);
        nearest = std::max(nearest, alike);
    }
    const qsizetype shared = common == 0 || startsWord(name, common) ? common : wordStart(name, common);

    const int room = width - metrics.horizontalAdvance(ellipsis);
    QStringList headed; // start "…" end, from the shortest end to the longest
    QString headless;   // "…" end, the longest end that tells it apart
    QString letters;    // the same, cut within a word: where nothing else fits
    for (qsizetype at = name.size() - 1; at > 0; --at) {
        const QString tail = name.mid(at);
        const int tailWidth = metrics.horizontalAdvance(tail);
        if (tailWidth > room)
            break;
        if (!startsWord(name, at)) {
            if (!tail.at(0).isSpace() && tellsApart(QString(), tail, name, siblings, false))
                letters = ellipsis + tail;
            continue;
        }
        if (tellsApart(QString(), tail, name, siblings))
            headless = ellipsis + tail;
        QString start = keptStart(name.left(at), metrics, width - tailWidth);
        // Whole words: a start cut within one ("Tow…") reads as nothing.
        if (start.size() < at && !isSeparator(name.at(start.size())))
            start.truncate(wordStart(name, start.size()));
        start = trimmedEnd(start);
        // A start says something when it reaches past the shared words and
        // keeps three letters at least.
        if (start.size() > shared && start.size() >= 3 && tellsApart(start, tail, name, siblings)
            && metrics.horizontalAdvance(start + ellipsis + tail) <= width)
            headed << start + ellipsis + tail;
    }
    if (!headed.isEmpty()) {
        // The end with most words around what tells it apart while the start
        // keeps half the room.
        QString chosen = headed.first();
        for (const QString& h : headed)
            if (metrics.horizontalAdvance(h.mid(h.indexOf(kEllipsis) + 1)) <= room / 2)
                chosen = h;
        return chosen;
    }
    if (!headless.isEmpty())
        return headless;
    // What tells it apart lies inside it ("…first floor…", "…third floor…"
    // of names alike at both ends).
    if (const QString picked = wordsApart(name, siblings, metrics, width); !picked.isEmpty())
        return picked;
    if (!letters.isEmpty())
        return letters;
    // No form that fits tells it from all of them: from as many as the words
    // that fit tell it from, else from the sibling most like it, at least.
    if (const QString most = wordsApart(name, siblings, metrics, width, true, Reach::Most); !most.isEmpty())
        return most;
    const QString last = metrics.elidedText(name.mid(wordStart(name, nearest)), Qt::ElideRight, room);
    return last.isEmpty() || last == ellipsis ? rightCut : ellipsis + last;
}

// What a camera's title "device · camera" is told apart from: its device
// shows only where another device's camera has the same name (beside it, or
// `elsewhere`: on another page of its wall).
struct TitleKin {
    QString device;
    QString own;
    QStringList devices; // of the cameras named alike
    QStringList owns;    // the other cameras' names
    // The narrowest form of the device that tells it from those devices, and
    // the names of the cameras shown with a device that could read as it:
    // what the camera's name is told from beside its device.
    QString deviceForm;
    QStringList ownsBeside;
};

TitleKin kinOf(const QString& name, qsizetype cut, const QStringList& siblings, const QFontMetrics& metrics,
               const QStringList& elsewhere)
{
    TitleKin kin;
    kin.device = name.left(cut);
    kin.own = name.mid(cut + kJoin.size());
    for (const QString& s : siblings) {
        if (s == name)
            continue;
        const qsizetype at = cameraTitleDeviceEnd(s);
        const QString theirs = at > 0 ? s.mid(at + kJoin.size()) : s;
        if (theirs == kin.own)
            kin.devices << (at > 0 ? s.left(at) : QString());
        else
            kin.owns << theirs;
    }
    for (const QString& s : elsewhere) {
        const qsizetype at = cameraTitleDeviceEnd(s);
        if (at > 0 && QStringView(s).mid(at + kJoin.size()) == kin.own && QStringView(s).left(at) != kin.device)
            kin.devices << s.left(at);
    }
    if (kin.devices.isEmpty())
        return kin;
    kin.deviceForm = leastApart(kin.device, kin.devices, metrics);
    // Beside its device, the camera's name is told from the cameras shown
    // with a device that could read as its own ("…1 · …01" from "…1 ·
    // …02"): those whose names other devices' cameras have too. The others
    // show no device, and its device tells it from them.
    QHash<QStringView, QStringView> deviceOf; // the first device of each camera name
    QSet<QStringView> collide;                // names of cameras of several devices
    for (const QStringList* list : {&siblings, &elsewhere}) {
        for (const QString& s : *list) {
            const qsizetype at = cameraTitleDeviceEnd(s);
            if (at <= 0)
                continue;
            const QStringView theirs = QStringView(s).mid(at + kJoin.size());
            const auto first = deviceOf.constFind(theirs);
            if (first == deviceOf.constEnd())
                deviceOf.insert(theirs, QStringView(s).left(at));
            else if (*first != QStringView(s).left(at))
                collide.insert(theirs);
        }
    }
    for (const QString& s : siblings) {
        const qsizetype at = cameraTitleDeviceEnd(s);
        const QStringView theirs = at > 0 ? QStringView(s).mid(at + kJoin.size()) : QStringView();
        if (at > 0 && theirs != kin.own && collide.contains(theirs) && couldRead(kin.deviceForm, s.left(at)))
            kin.ownsBeside << theirs.toString();
    }
    return kin;
}

// What the camera's name is told from beside its device.
const QStringList& toldBeside(const TitleKin& kin)
{
    return kin.ownsBeside.isEmpty() ? kin.owns : kin.ownsBeside;
}

// The narrowest room in which the camera's name keeps what tells it apart
// beside its device.
int ownLeast(const TitleKin& kin, const QFontMetrics& metrics)
{
    const QStringList& told = toldBeside(kin);
    return told.isEmpty() ? metrics.horizontalAdvance(kEllipsis)
                          : metrics.horizontalAdvance(leastApart(kin.own, told, metrics));
}

// A camera's title beside other titles: the camera's name keeps what tells
// it from the other cameras first, and the device what tells it from the
// devices of its name in the room left; where the least of both does not
// fit, the device is left out (a wall of "…1 · …" says nothing of its
// cameras).
QString titleApart(const QString& name, qsizetype cut, const QStringList& siblings, const QFontMetrics& metrics,
                   int width, const QStringList& elsewhere)
{
    const TitleKin kin = kinOf(name, cut, siblings, metrics, elsewhere);
    const auto ownAlone = [&] { return directed(plainApart(kin.own, kin.owns, metrics, width), kin.own); };
    if (kin.devices.isEmpty())
        return ownAlone();
    const int join = metrics.horizontalAdvance(kJoin);
    const int ellipsis = metrics.horizontalAdvance(kEllipsis);
    const int deviceLeast = metrics.horizontalAdvance(kin.deviceForm);
    const int least = ownLeast(kin, metrics);
    // Measured whole: the parts' widths, each rounded, may not add up to it.
    for (int ownRoom = width - join - deviceLeast; ownRoom >= least;) {
        const QString ownShown = plainApart(kin.own, toldBeside(kin), metrics, ownRoom);
        const int deviceRoom = width - join - metrics.horizontalAdvance(ownShown);
        const QString deviceShown =
            deviceRoom >= ellipsis ? plainApart(kin.device, kin.devices, metrics, deviceRoom) : QString(kEllipsis);
        // A device of nothing but "…" says nothing: the camera's name takes
        // its room.
        if (deviceShown == QString(kEllipsis))
            break;
        const QString shown = directed(deviceShown, kin.device) + kJoin + directed(ownShown, kin.own);
        const int over = metrics.horizontalAdvance(shown) - width;
        if (over <= 0)
            return shown;
        ownRoom -= over;
    }
    return ownAlone();
}

} // namespace

qsizetype cameraTitleDeviceEnd(const QString& title)
{
    for (qsizetype at = title.indexOf(kJoin); at > 0; at = title.indexOf(kJoin, at + 1)) {
        const qsizetype after = at + kJoin.size();
        if (title.at(at - 1) != QLatin1Char(' ') && after < title.size() && title.at(after) != QLatin1Char(' '))
            return at;
    }
    return -1;
}

QString fitCameraTitle(const QString& title, const QFontMetrics& metrics, int width)
{
    if (metrics.horizontalAdvance(title) <= width)
        return title;
    const QString bare = withoutIsolates(title);
    const qsizetype cut = cameraTitleDeviceEnd(bare);
    if (cut <= 0)
        return directed(metrics.elidedText(bare, Qt::ElideRight, width), bare);
    const QString device = bare.left(cut);
    const QString own = bare.mid(cut + kJoin.size());
    const QString rest = kJoin + directed(own, own);
    const QString ellipsis(kEllipsis);
    const QString letter = device.left(1) + ellipsis;
    const int room = width - metrics.horizontalAdvance(rest);
    if (room >= metrics.horizontalAdvance(letter)) {
        // At least the device's first letter (an elision may round it away).
        const QString head = metrics.elidedText(device, Qt::ElideRight, room);
        return directed(head.size() < letter.size() ? letter : head, device) + rest;
    }
    // Then the device part is only "…"; only then is the camera's own name
    // shortened too.
    if (room >= metrics.horizontalAdvance(ellipsis))
        return ellipsis + rest;
    const QString start = ellipsis + kJoin;
    const QString kept = keptStart(own, metrics, width - metrics.horizontalAdvance(start));
    if (kept == own)
        return start + directed(own, own);
    return start + (kept.isEmpty() ? ellipsis : directed(kept + kEllipsis, own));
}

QString fitApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width)
{
    return fitApart(name, siblings, metrics, width, {});
}

QString fitApart(const QString& name, const QStringList& siblings, const QFontMetrics& metrics, int width,
                 const QStringList& elsewhere)
{
    if (metrics.horizontalAdvance(name) <= width)
        return name;
    const QString bare = withoutIsolates(name);
    const QStringList others = withoutIsolates(siblings);
    const qsizetype cut = cameraTitleDeviceEnd(bare);
    const bool alone = std::none_of(others.cbegin(), others.cend(), [&bare](const QString& s) { return s != bare; });
    if (alone && (cut <= 0 || elsewhere.isEmpty()))
        return directed(metrics.elidedText(bare, Qt::ElideMiddle, std::max(width, 0)), bare);
    if (cut > 0)
        return titleApart(bare, cut, others, metrics, width, withoutIsolates(elsewhere));
    return directed(plainApart(bare, others, metrics, width), bare);
}

int leastApartWidth(const QString& name, const QStringList& siblings, const QFontMetrics& metrics,
                    const QStringList& elsewhere)
{
    const QString bare = withoutIsolates(name);
    const QStringList others = withoutIsolates(siblings);
    const int whole = metrics.horizontalAdvance(name);
    if (std::none_of(others.cbegin(), others.cend(), [&bare](const QString& s) { return s != bare; })
        && elsewhere.isEmpty())
        return 0;
    if (const qsizetype cut = cameraTitleDeviceEnd(bare); cut > 0) {
        const TitleKin kin = kinOf(bare, cut, others, metrics, withoutIsolates(elsewhere));
        if (!kin.devices.isEmpty())
            return std::min(whole,
                            ownLeast(kin, metrics) + metrics.horizontalAdvance(kJoin)
                                + metrics.horizontalAdvance(kin.deviceForm));
        return std::min(whole, metrics.horizontalAdvance(leastApart(kin.own, kin.owns, metrics)));
    }
    return std::min(whole, metrics.horizontalAdvance(leastApart(bare, others, metrics)));
}

QStringList fitApart(const QStringList& names, const QFontMetrics& metrics, int width)
{
    QStringList out;
    out.reserve(names.size());
    for (const QString& n : names)
        out << fitApart(n, names, metrics, width);
    return out;
}

} // namespace kvr::ui
