#include "native/services/DeviceLogins.h"

#include <QHash>
#include <QList>

#include <deque>

namespace kvr::services {

namespace NativeLogins {

namespace {

struct Kept {
    std::optional<NativeDigest::Digest> digest;
    QByteArray text; // the challenge as the device wrote it
    quint32 uses = 0;
    bool basicOnly = false;
    QList<QByteArray> acceptedNonces; // the last few
    bool busy = false;
    std::deque<std::function<bool()>> waiting;

    bool idle() const { return !busy && waiting.empty(); }
};

QHash<QString, Kept>& kept()
{
    static QHash<QString, Kept> all;
    return all;
}

// A bound for a fleet whose addresses keep changing; far above any fleet.
constexpr qsizetype kMaxDevices = 4096;
// Nonces remembered as accepted per device: the kept one and those just
// before it, whose answers may still be on their way.
constexpr qsizetype kAcceptedNonces = 4;

Kept& entry(const QString& key)
{
    QHash<QString, Kept>& all = kept();
    if (all.size() >= kMaxDevices && !all.contains(key)) {
        // A device in the middle of a turn keeps its place, or its waiting
        // requests would never go.
        for (auto it = all.begin(); it != all.end();)
            it = it->idle() ? all.erase(it) : std::next(it);
    }
    return all[key];
}

} // namespace

Sent fromMemory(const QString& key, const Request& r)
{
    const auto it = kept().find(key);
    if (it == kept().end())
        return {};
    if (it->digest) {
        Sent s;
        s.kind = Sent::Kind::Digest;
        s.nonce = it->digest->nonce;
        s.challenge = it->text;
        s.authorization = NativeDigest::answer(*it->digest, r.method, r.target, r.payload, r.user, r.password,
                                               ++it->uses, NativeDigest::newCnonce());
        return s;
    }
    if (it->basicOnly) {
        Sent s;
        s.kind = Sent::Kind::Basic;
        s.authorization = NativeDigest::basicAnswer(r.user, r.password);
        return s;
    }
    return {};
}

void learn(const QString& key, const QByteArray& challengeText)
{
    const QList<NativeDigest::Challenge> challenges = NativeDigest::parseChallenges(challengeText);
    const std::optional<NativeDigest::Digest> digest = NativeDigest::pickDigest(challenges);
    if (digest) {
        Kept& k = entry(key);
        k.digest = digest;
        k.text = challengeText;
        k.uses = 0;
        k.basicOnly = false;
    } else if (NativeDigest::offersBasic(challenges)) {
        Kept& k = entry(key);
        k.digest.reset();
        k.text.clear();
        k.basicOnly = true;
    }
}

void forget(const QString& key, const Sent& refused)
{
    const auto it = kept().find(key);
    if (it == kept().end())
        return;
    if (refused.kind == Sent::Kind::Digest && it->digest && it->digest->nonce == refused.nonce) {
        it->digest.reset();
        it->text.clear();
    } else if (refused.kind == Sent::Kind::Basic) {
        it->basicOnly = false;
    }
}

void accepted(const QString& key, const Sent& sent)
{
    if (sent.kind != Sent::Kind::Digest)
        return;
    Kept& k = entry(key);
    if (k.acceptedNonces.contains(sent.nonce))
        return;
    k.acceptedNonces.append(sent.nonce);
    if (k.acceptedNonces.size() > kAcceptedNonces)
        k.acceptedNonces.removeFirst();
}

bool wasAccepted(const QString& key, const Sent& sent)
{
    const auto it = kept().find(key);
    return sent.kind == Sent::Kind::Digest && it != kept().end() && it->acceptedNonces.contains(sent.nonce);
}

void takeTurn(const QString& key, std::function<bool()> go)
{
    Kept& k = entry(key);
    if (k.busy) {
        k.waiting.push_back(std::move(go));
        return;
    }
    k.busy = true;
    if (!go())
        passTurn(key);
}

void passTurn(const QString& key)
{
    for (;;) {
        const auto it = kept().find(key);
        if (it == kept().end())
            return;
        if (it->waiting.empty()) {
            it->busy = false;
            return;
        }
        const std::function<bool()> go = std::move(it->waiting.front());
        it->waiting.pop_front();
        if (go())
            return; // it holds the turn now
    }
}

} // namespace NativeLogins

} // namespace kvr::services
