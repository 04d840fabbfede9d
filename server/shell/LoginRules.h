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

// What a sign-in lacks before it is sent ("Enter your password."), or
// nothing: a user name (blanks aside) and a password, both. A failed sign-in
// empties the password field, and Return there must not send it empty.
QString missingEntry(const QString& user, const QString& password);

// "Server: <host>" for the server button; the host of `baseUrl`, fully
// decoded, and its port where that is not the scheme's own, so that two
// servers on one host read apart ("Server: 127.0.0.1:8480").
QString serverLabel(const QString& baseUrl);

// A sign-in made with "Remember me" whose remembered sign-in file at `path`
// could not be written, for `reason` (in plain words).
QString notRememberedText(const QString& path, const QString& reason);

// Where a sign-in under way stands, `seconds` after it started: connecting
// to `endpoint` ("host:port"), or connected with its request sent and
// waiting for the answer.
QString signInProgressText(bool requestSent, const QString& endpoint, qint64 seconds);

// The text shown for a refused code, from the server client's error text.
QString codeErrorText(const QString& error);
// Whether that text says the code has expired and to resend one: the page
// then offers "Resend code" at once.
bool codeExpired(const QString& error);

// "Resend code in 4:59".
QString resendCountdownText(int seconds);

// The hint above the code boxes.
QString codeHint(int length, const QString& contact);

// What a change of digit box `index` from `before` to `text` does to the row
// of `boxCount` boxes.
struct DigitEdit {
    enum Action {
        Nothing, // an emptied box: nothing moves
        Typed,   // one digit typed: the box holds that digit alone, the focus moves on
        Reject,  // one character typed that is not a digit: the box holds what it held
        Spread,  // a paste: its digits spread over the boxes from the first
    };
    Action action = Nothing;
    QStringList boxes; // Spread: the new text of every box
    QString kept;      // Typed and Reject: what the box holds now
    int focus = -1;    // the box that gets the focus, -1 when it stays
};
// One character more than the box held is a key typed, wherever the caret
// stood: the digit takes the place of the one the box held, so that a code
// typed again from the first box over a refused one reads as typed. Any
// other change to several characters is a paste.
DigitEdit digitBoxChanged(int index, const QString& before, const QString& text, int boxCount);
// A code pasted into a digit box, as mail and messages show it ("123 456",
// "123-456"): its digits, and nothing else, spread over the boxes from the
// first, whatever the box held. Nothing when it holds fewer than two digits
// (the box takes it as typed).
DigitEdit codePasted(const QString& pasted, int boxCount);
// The decimal digits of a text, in order (what a paste into the single code field keeps).
QString digitsOf(const QString& text);

// Why no new code came, for a resend the server answered without sending
// one: its own reason ("A code already exists."), or, when it gave none, a
// plain statement of it.
QString resendRefusal(const QString& reason);

// The resend button after a resend answer that needs no other change: usable
// exactly when no countdown runs.
inline bool resendUsable(int secondsLeft)
{
    return secondsLeft < 1;
}

} // namespace LoginRules

} // namespace kvr::shell
