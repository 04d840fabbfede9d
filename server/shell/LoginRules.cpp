#include "server/shell/LoginRules.h"

#include "server/api/ApiRules.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

using namespace kvr::api;

namespace kvr::shell {

namespace LoginRules {

LoginRoute routeOf(const LoginStart& answer)
{
    if (!answer.message.isEmpty())
        return LoginRoute::Lockout;
    switch (answer.step) {
    case LoginStart::Failed:
        return LoginRoute::Error;
    case LoginStart::MobileVerification:
        return LoginRoute::Mobile;
    case LoginStart::CodeRequired:
        return LoginRoute::Code;
    default:
        return LoginRoute::Session;
    }
}

RestoreFailure restoreFailure(const LoginStart& answer)
{
    switch (answer.failure) {
    case ApiFailure::Unreachable:
    case ApiFailure::NoAnswer:
    case ApiFailure::ServerError:
    case ApiFailure::Throttled:
        return RestoreFailure::KeepRemembered;
    case ApiFailure::None:
        // Not signed in, yet nothing refused: no reason to forget.
        return RestoreFailure::KeepRemembered;
    default:
        return RestoreFailure::ForgetRemembered;
    }
}

QString missingEntry(const QString& user, const QString& password)
{
    const bool noUser = user.trimmed().isEmpty();
    if (noUser && password.isEmpty())
        return QStringLiteral("Enter your username and password.");
    if (noUser)
        return QStringLiteral("Enter your username.");
    if (password.isEmpty())
        return QStringLiteral("Enter your password.");
    return {};
}

QString serverLabel(const QString& baseUrl)
{
    const QUrl url(baseUrl, QUrl::TolerantMode);
    if (ApiRules::explicitPort(url) < 0)
        return QStringLiteral("Server: %1").arg(url.host(QUrl::FullyDecoded));
    return QStringLiteral("Server: %1").arg(ApiRules::endpointText(url));
}

QString notRememberedText(const QString& path, const QString& reason)
{
    return QStringLiteral("You are signed in, but the sign-in could not be remembered in %1 (%2): the next start asks "
                          "for your password again.")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()), reason);
}

QString signInProgressText(bool requestSent, const QString& endpoint, qint64 seconds)
{
    const QString stage = requestSent
        ? QStringLiteral("Connected to %1, waiting for the server to answer").arg(endpoint)
        : QStringLiteral("Connecting to %1").arg(endpoint);
    return seconds < 1 ? stage : QStringLiteral("%1 (%2 s)").arg(stage).arg(seconds);
}

bool codeExpired(const QString& error)
{
    return !error.contains(QLatin1String("Invalid OTP"), Qt::CaseInsensitive)
        && error.contains(QLatin1String("OTP expired or not found"), Qt::CaseInsensitive);
}

QString codeErrorText(const QString& error)
{
    if (error.contains(QLatin1String("Invalid OTP"), Qt::CaseInsensitive))
        return QStringLiteral("That code is incorrect.");
    if (codeExpired(error))
        return QStringLiteral("That code has expired. Resend a new one.");
    if (error.contains(QLatin1String("Unable to verify"), Qt::CaseInsensitive))
        return QStringLiteral("Unable to verify OTP right now.");
    if (!error.isEmpty())
        return error;
    return QStringLiteral("That code is incorrect.");
}

QString resendCountdownText(int seconds)
{
    return QStringLiteral("Resend code in %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString resendRefusal(const QString& reason)
{
    return reason.isEmpty() ? QStringLiteral("No new code was sent.") : reason;
}

QString codeHint(int length, const QString& contact)
{
    return QStringLiteral("Enter the %1-digit code sent to %2.")
        .arg(QString::number(length), contact.isEmpty() ? QStringLiteral("your registered contact") : contact);
}

QString digitsOf(const QString& text)
{
    QString digits;
    for (const QChar c : text)
        if (c.isDigit())
            digits.append(c);
    return digits;
}

namespace {

DigitEdit spread(const QString& digits, int boxCount)
{
    DigitEdit edit;
    edit.action = DigitEdit::Spread;
    for (int k = 0; k < boxCount; ++k)
        edit.boxes.append(k < digits.size() ? QString(digits.at(k)) : QString());
    edit.focus = int(std::min<qsizetype>(digits.size(), boxCount)) - 1;
    return edit;
}

} // namespace

DigitEdit codePasted(const QString& pasted, int boxCount)
{
    const QString digits = digitsOf(pasted);
    return digits.size() < 2 ? DigitEdit() : spread(digits, boxCount);
}

namespace {

// The one character `text` holds beyond `before`, or a null character when
// `text` is not `before` with one character put in.
QChar typedInto(const QString& before, const QString& text)
{
    if (text.size() != before.size() + 1)
        return {};
    qsizetype at = 0;
    while (at < before.size() && before.at(at) == text.at(at))
        ++at;
    return QStringView(text).sliced(at + 1) == QStringView(before).sliced(at) ? text.at(at) : QChar();
}

// A refused character leaves the box with the digit it held, if any.
DigitEdit rejected(const QString& before)
{
    DigitEdit edit;
    edit.action = DigitEdit::Reject;
    edit.kept = before.size() == 1 && before.at(0).isDigit() ? before : QString();
    return edit;
}

} // namespace

DigitEdit digitBoxChanged(int index, const QString& before, const QString& text, int boxCount)
{
    DigitEdit edit;
    if (text.isEmpty())
        return edit;
    const QChar typed = text.size() == 1 ? text.at(0) : typedInto(before, text);
    if (!typed.isNull()) {
        if (!typed.isDigit())
            return rejected(before);
        edit.action = DigitEdit::Typed;
        edit.kept = QString(typed);
        edit.focus = index + 1 < boxCount ? index + 1 : -1;
        return edit;
    }
    // A pasted code: its digits are spread and anything else in it is left
    // out, so each box holds one digit.
    const QString digits = digitsOf(text);
    if (digits.isEmpty())
        return rejected(before);
    return spread(digits, boxCount);
}

} // namespace LoginRules

} // namespace kvr::shell
