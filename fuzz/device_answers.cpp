// fuzz-sources: native/services/CalendarDaySearch.cpp native/services/CalendarSearch.cpp native/services/DeviceParsers.cpp native/services/NativeHttp.cpp native/services/DeviceWire.cpp native/services/ConnectionGate.cpp native/services/Logging.cpp native/services/AnswerFraming.cpp native/services/ContentCoding.cpp native/services/DigestAuth.cpp native/services/DeviceLogins.cpp native/services/Brands.cpp native/services/AddressCheck.cpp app/core/Clock.cpp
// fuzz-qt: Qt6Core Qt6Network zlib
//
// Recorders answer searches and information requests with XML, key=value
// lines or JSON of any quality. The readers must neither crash nor loop,
// whatever count or day number a device claims, and give only what they
// promise: valid clips, days of the asked month, counts never negative.
// Their login challenges are read the same way: whatever the header, an
// answer is made only to a challenge with a nonce.

#include "native/services/CalendarDaySearch.h"
#include "native/services/DeviceParsers.h"
#include "native/services/DigestAuth.h"

#include <cstdint>
#include <cstdlib>

using namespace kvr::services;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    const NativeCalendar::HikDayPage hik = NativeCalendar::readHikDayPage(body);
    if (hik.items < hik.clips.size())
        std::abort();
    for (const NativeCalendar::Clip& c : hik.clips)
        if (!c.start.isValid() || !c.end.isValid())
            std::abort();

    const NativeCalendar::DahuaDayPage dahua = NativeCalendar::readDahuaDayPage(body);
    if (dahua.found < 0 || dahua.clips.size() > dahua.found)
        std::abort();
    for (const NativeCalendar::Clip& c : dahua.clips)
        if (!c.start.isValid() || !c.end.isValid())
            std::abort();

    const int year = 2000 + (size > 0 ? data[0] % 50 : 0);
    const int month = 1 + (size > 1 ? data[1] % 12 : 0);
    const int last = QDate(year, month, 1).daysInMonth();
    for (const int d : NativeCalendar::hikMonthDays(body, year, month))
        if (d < 1 || d > last)
            std::abort();

    const QList<NativeDigest::Challenge> challenges = NativeDigest::parseChallenges(body);
    if (const std::optional<NativeDigest::Digest> d = NativeDigest::pickDigest(challenges)) {
        if (d->nonce.isEmpty())
            std::abort();
        (void)NativeDigest::answer(*d, "GET", "/", body, QStringLiteral("u"), QStringLiteral("p"), 1, "c");
    }

    (void)NativeParse::deviceInfo(body);
    (void)NativeParse::jsonFlat(body);
    (void)NativeParse::wallClock(QString::fromUtf8(body.left(64)));
    return 0;
}
