#pragma once

#include "server/api/ApiTypes.h"

#include <QString>
#include <QStringList>

namespace kvr::shell {

// The rules of the sign-in window, apart from its widgets.
namespace LoginRules {

// Where an answer to a sign-in takes the window.
enum class LoginRoute { Lockout, Error, Mobile, Code, Session };
LoginRoute routeOf(const api::LoginStart& answer);

// What a failed restore of the remembered sign-in does with it: an outage
// (no connection, no answer, a server in trouble) keeps it for a later try;
// a refusal by the server forgets it.
enum class RestoreFailure { KeepRemembered, ForgetRemembered };
RestoreFailure restoreFailure(const api::LoginStart& answer);

// "Server: <host>" for the server button; the host of `baseUrl`, fully decoded.
QString serverLabel(const QString& baseUrl);

// The text shown for a refused code, from the server client's error text.
QString codeErrorText(const QString& error);
// Whether that text says the code has expired and to resend one: the page
// then offers "Resend code" at once.
bool codeExpired(const QString& error);

// "Resend code in 4:59".
QString resendCountdownText(int seconds);

// The hint above the code boxes.
QString codeHint(int length, const QString& contact);

// What a change of digit box `index` to `text` does to the row of `boxCount` boxes.
struct DigitEdit {
    enum Action {
        Nothing, // an empty box: nothing moves
        Advance, // one digit typed: focus moves on
        Reject,  // a single character that is not a digit: the box is emptied
        Spread,  // several characters: their digits spread over the boxes from the first
    };
    Action action = Nothing;
    QStringList boxes; // Spread: the new text of every box
    int focus = -1;    // the box that gets the focus, -1 when it stays
};
DigitEdit digitBoxChanged(int index, const QString& text, int boxCount);
// A code pasted into a digit box, as mail and messages show it ("123 456",
// "123-456"): its digits, and nothing else, spread over the boxes from the
// first, whatever the box held. Nothing when it holds fewer than two digits
// (the box takes it as typed).
DigitEdit codePasted(const QString& pasted, int boxCount);
// The decimal digits of a text, in order (what a paste into the single code field keeps).
QString digitsOf(const QString& text);

// The resend button after a resend answer that needs no other change: usable
// exactly when no countdown runs.
inline bool resendUsable(int secondsLeft)
{
    return secondsLeft < 1;
}

} // namespace LoginRules

} // namespace kvr::shell
