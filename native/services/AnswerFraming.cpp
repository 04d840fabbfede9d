#include "native/services/AnswerFraming.h"

#include "native/services/Tunables.h"

#include <QByteArrayView>

#include <algorithm>

namespace kvr::services {

namespace {

// A chunk-size line is a number and perhaps extensions nobody reads.
constexpr qsizetype kChunkLine_bytes = 1024;

// Drops what was read through once it is half the buffer, so that reading
// from the front never moves the rest byte by byte.
void compact(QByteArray& buffer, qsizetype& pos)
{
    if (pos == buffer.size()) {
        buffer.clear();
        pos = 0;
    } else if (pos > 0 && pos >= buffer.size() / 2) {
        buffer.remove(0, pos);
        pos = 0;
    }
}

} // namespace

qint64 AnswerFraming::intake() const
{
    if (m_done || (inBody() && room() == 0))
        return 0;
    return std::max<qint64>(0, tun::kWireSocketBuffer_bytes - (m_in.size() - m_inPos));
}

bool AnswerFraming::feed(const QByteArray& bytes)
{
    if (m_done)
        return false;
    if (!bytes.isEmpty()) {
        compact(m_in, m_inPos);
        m_in += bytes;
    }
    bool moved = !bytes.isEmpty();
    for (;;) {
        const qsizetype before = m_in.size() - m_inPos;
        const Stage stage = m_stage;
        if (!parse() || m_done)
            return true;
        if (before == m_in.size() - m_inPos && stage == m_stage)
            return moved;
        moved = true;
    }
}

void AnswerFraming::peerClosed(bool moreWaits)
{
    // What was fed is read first, as far as the reader has room. The answer
    // is whole only when it runs to the close. (While the reader has no
    // room, the rest waits for it.)
    feed(QByteArray());
    if (m_done || (inBody() && room() == 0 && (inputWaits() || moreWaits)))
        return;
    if (m_stage == Stage::ToClose)
        complete();
    else
        fail(Error::Closed);
}

void AnswerFraming::fail(Error error)
{
    if (m_done)
        return;
    m_error = error;
    complete();
}

void AnswerFraming::abandon()
{
    m_done = true;
    m_stage = Stage::Done;
    m_owesHead = m_owesData = m_owesEnd = false;
    m_in.clear();
    m_inPos = 0;
    m_searched = 0;
}

QByteArray AnswerFraming::header(const QByteArray& name) const
{
    const QByteArray key = name.toLower();
    QByteArray out;
    for (const auto& [n, v] : m_headers) {
        if (n != key)
            continue;
        if (!out.isEmpty())
            out += ", ";
        out += v;
    }
    return out;
}

QByteArray AnswerFraming::read(qint64 max)
{
    const qint64 n = std::min<qint64>(max, bytesAvailable());
    if (n <= 0)
        return {};
    QByteArray out = m_held.mid(m_heldPos, n);
    m_heldPos += n;
    compact(m_held, m_heldPos);
    return out;
}

qint64 AnswerFraming::room() const
{
    return std::max<qint64>(0, m_heldLimit - bytesAvailable());
}

bool AnswerFraming::inBody() const
{
    return m_stage == Stage::Length || m_stage == Stage::ChunkData || m_stage == Stage::ToClose;
}

// Reads the head and the body's framing from what came; false when the
// answer turned out no HTTP (the exchange has failed then).
bool AnswerFraming::parse()
{
    for (;;) {
        const QByteArray view = QByteArray::fromRawData(m_in.constData() + m_inPos, m_in.size() - m_inPos);
        switch (m_stage) {
        case Stage::Head:
        case Stage::Trailers: {
            // Lines end with CRLF, or with a bare LF as some devices write.
            // Only what came since the last look is searched, with the few
            // bytes before it that an end may straddle: a head that comes a
            // byte at a time is read once, not once per byte.
            qsizetype end = -1;
            qsizetype gap = 0;
            if (view.startsWith("\r\n") || view.startsWith('\n')) {
                end = 0;
                gap = view.startsWith('\n') ? 1 : 2;
            } else {
                const qsizetype from = std::max<qsizetype>(0, m_searched - 3);
                const qsizetype crlf = view.indexOf("\r\n\r\n", from);
                // A bare-LF end counts only before the first CRLF one (it
                // cannot overlap it), so nothing past that is searched twice.
                const QByteArrayView before = QByteArrayView(view).first(crlf >= 0 ? crlf : view.size());
                const qsizetype lf = before.indexOf("\n\n", std::max<qsizetype>(0, m_searched - 1));
                m_examined += (crlf >= 0 ? crlf + 4 : view.size()) - from;
                if (crlf >= 0 && (lf < 0 || crlf <= lf)) {
                    end = crlf;
                    gap = 4;
                } else if (lf >= 0) {
                    end = lf;
                    gap = 2;
                }
            }
            if (end < 0) {
                // (What is held never passes the connection's share, which
                // this bound must not pass.)
                static_assert(tun::kAnswerHead_bytes <= tun::kWireSocketBuffer_bytes);
                if (view.size() >= tun::kAnswerHead_bytes) {
                    fail(Error::NotHttp);
                    return false;
                }
                m_searched = view.size();
                return true;
            }
            if (end > tun::kAnswerHead_bytes) {
                fail(Error::NotHttp);
                return false;
            }
            const QByteArray block = view.left(end);
            consume(end + gap);
            if (m_stage == Stage::Trailers) {
                complete();
                return true;
            }
            if (block.isEmpty())
                continue; // blank lines before an answer are tolerated
            if (!readHead(block)) {
                fail(Error::NotHttp);
                return false;
            }
            if (m_status >= 100 && m_status <= 199) {
                // An interim answer ("100 Continue"): the real one follows.
                m_status = 0;
                m_headers.clear();
                continue;
            }
            m_owesHead = true;
            beginBody();
            if (m_done)
                return false;
            continue;
        }
        case Stage::Length:
        case Stage::ChunkData:
        case Stage::ToClose: {
            const qint64 n = std::min<qint64>(view.size(), room());
            const qint64 take = m_stage == Stage::ToClose ? n : std::min(n, m_left);
            if (take <= 0)
                return true;
            if (!takeBody(take))
                return false;
            if (m_stage == Stage::ToClose)
                continue;
            m_left -= take;
            if (m_left > 0)
                continue;
            if (m_stage == Stage::Length) {
                complete();
                return true;
            }
            m_stage = Stage::ChunkEnd;
            continue;
        }
        case Stage::ChunkEnd: {
            if (view.startsWith("\r\n") || view.startsWith('\n')) {
                consume(view.startsWith('\n') ? 1 : 2);
                m_stage = Stage::ChunkSize;
                continue;
            }
            if (view.isEmpty() || view == "\r")
                return true;
            fail(Error::NotHttp);
            return false;
        }
        case Stage::ChunkSize: {
            // Bounded the same whether the line came whole or in pieces, and
            // searched from where the last look ended.
            const qsizetype eol = view.indexOf('\n', m_searched);
            m_examined += (eol >= 0 ? eol + 1 : view.size()) - m_searched;
            if (eol > kChunkLine_bytes || (eol < 0 && view.size() > kChunkLine_bytes)) {
                fail(Error::NotHttp);
                return false;
            }
            if (eol < 0) {
                m_searched = view.size();
                return true;
            }
            QByteArray line = view.left(eol).trimmed();
            const qsizetype ext = line.indexOf(';');
            if (ext >= 0)
                line = line.left(ext).trimmed();
            bool ok = false;
            const qint64 size = line.size() <= 15 ? line.toLongLong(&ok, 16) : -1;
            if (!ok || size < 0) {
                fail(Error::NotHttp);
                return false;
            }
            consume(eol + 1);
            m_left = size;
            m_stage = size == 0 ? Stage::Trailers : Stage::ChunkData;
            continue;
        }
        case Stage::Done:
            return true;
        }
    }
}

bool AnswerFraming::readHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray first = lines.value(0).trimmed();
    // "HTTP/1.1 200 OK": the version, a status of three digits, a reason.
    if (!first.startsWith("HTTP/1.") || first.size() < 12 || first.at(8) != ' ')
        return false;
    bool ok = false;
    const int status = first.mid(9, 3).toInt(&ok);
    if (!ok || status < 100 || status > 999 || (first.size() > 12 && first.at(12) != ' '))
        return false;
    m_status = status;
    m_headers.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& raw = lines.at(i);
        if ((raw.startsWith(' ') || raw.startsWith('\t')) && !m_headers.isEmpty()) {
            // A header folded over lines, as old servers write it.
            m_headers.last().second += ' ' + raw.trimmed();
            continue;
        }
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue; // not a header: nothing to read in it
        m_headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

void AnswerFraming::beginBody()
{
    if (m_status == 204 || m_status == 304) {
        complete();
        return;
    }
    // Codings are named in any case ("Chunked" is chunked).
    const QByteArray coding = header("transfer-encoding").toLower();
    if (!coding.isEmpty() && coding.trimmed().endsWith("chunked")) {
        m_stage = Stage::ChunkSize;
        return;
    }
    QByteArray length;
    for (const auto& [name, value] : std::as_const(m_headers)) {
        if (name != "content-length")
            continue;
        // Several lengths that differ leave the body's end unknown.
        if (!length.isEmpty() && length != value) {
            fail(Error::NotHttp);
            return;
        }
        length = value;
    }
    if (length.isEmpty()) {
        m_stage = Stage::ToClose;
        return;
    }
    bool ok = false;
    const qint64 n = length.toLongLong(&ok);
    if (!ok || n < 0) {
        fail(Error::NotHttp);
        return;
    }
    if (m_status == 401 && n > tun::kChallengeBody_bytes) {
        fail(Error::LoginTooLarge);
        return;
    }
    m_left = n;
    m_stage = Stage::Length;
    if (n == 0)
        complete();
}

bool AnswerFraming::takeBody(qint64 upTo)
{
    if (m_status == 401 && m_bodyTotal + upTo > tun::kChallengeBody_bytes) {
        fail(Error::LoginTooLarge);
        return false;
    }
    compact(m_held, m_heldPos);
    m_held.append(m_in.constData() + m_inPos, upTo);
    consume(upTo);
    compact(m_in, m_inPos);
    m_bodyTotal += upTo;
    m_owesData = true;
    return true;
}

void AnswerFraming::consume(qsizetype n)
{
    m_inPos += n;
    m_searched = 0;
}

void AnswerFraming::complete()
{
    if (m_done)
        return;
    m_stage = Stage::Done;
    m_done = true;
    m_owesEnd = true;
    m_in.clear();
    m_inPos = 0;
    m_searched = 0;
}

} // namespace kvr::services
