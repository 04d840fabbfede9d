// The sign-in window against the fake organisation server: sign-in, errors,
// lockout, mobile verification, the code step, the remembered sign-in, the
// server dialog and the brand film.
#include "app/core/Settings.h"
#include "server/shell/BrandVideo.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/ServerDialog.h"
#include "tests/server/shell/ShellTestSupport.h"
#include "video/FfmpegPlayer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace shelltest;
using orgserver::Answer;

namespace {

struct Form {
    LoginWindow& w;
    QLineEdit* user() { return fieldOf(&w, QStringLiteral("Username")); }
    QLineEdit* password() { return fieldOf(&w, QStringLiteral("Password")); }
    QCheckBox* remember() { return w.findChild<QCheckBox*>(); }
    QLabel* error()
    {
        for (QLabel* l : w.findChildren<QLabel*>(QStringLiteral("LoginError")))
            if (l->parentWidget()->findChild<QLineEdit*>(QStringLiteral("LoginField")))
                return l;
        return nullptr;
    }
    QLabel* codeError()
    {
        for (QLabel* l : w.findChildren<QLabel*>(QStringLiteral("LoginError")))
            if (l->parentWidget()->findChild<QLineEdit*>(QStringLiteral("OtpField")))
                return l;
        return nullptr;
    }
    QPushButton* button(const QString& text) { return buttonNamed<QPushButton>(&w, text); }
    void signIn(const QString& name, const QString& pass, bool keep)
    {
        user()->setText(name);
        password()->setText(pass);
        remember()->setChecked(keep);
        QTest::mouseClick(button(QStringLiteral("Sign in")), Qt::LeftButton);
    }
};

QJsonObject codeAnswer(int length, int seconds)
{
    return {{QStringLiteral("details"),
             QJsonObject{{QStringLiteral("next"), QStringLiteral("otp")},
                         {QStringLiteral("user_id"), 1002},
                         {QStringLiteral("otp_length"), length},
                         {QStringLiteral("otp_time"), seconds},
                         {QStringLiteral("mobile_number"), QStringLiteral("+91 98xxxxx210")}}}};
}

} // namespace

class TestLoginWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { Prefs::remove(Prefs::kRememberUser.name); }

    void signInRemembersTheTrimmedUserAndSendsThePasswordAsTyped()
    {
        Rig rig;
        rig.server.addUser(QStringLiteral("asha"), QStringLiteral(" pass word "), false);
        LoginWindow w;
        w.show();
        QSignalSpy signedIn(&w, &LoginWindow::signedIn);
        Form f{w};
        f.signIn(QStringLiteral("  asha  "), QStringLiteral(" pass word "), true);
        QTRY_COMPARE(signedIn.count(), 1);
        const QJsonObject sent = rig.server.requestsTo(QStringLiteral("/v2/login/")).first().json();
        QCOMPARE(sent.value(QStringLiteral("username")).toString(), QStringLiteral("asha"));
        QCOMPARE(sent.value(QStringLiteral("password")).toString(), QStringLiteral(" pass word "));
        QCOMPARE(Prefs::get(Prefs::kRememberUser), QStringLiteral("asha"));
        const auto saved = SessionStore::load();
        QVERIFY(saved && saved->username == QStringLiteral("asha"));
        QCOMPARE(saved->refreshToken, rig.server.lastIssuedRefresh);
        QCOMPARE(AppContext::instance().user.organisationName, QStringLiteral("Demo Organisation"));
        QVERIFY(rig.server.countOf(QStringLiteral("/v2/auth/me/")) == 1);
        QVERIFY(f.password()->text().isEmpty());

        // Without remember-me the next sign-in forgets both.
        f.signIn(QStringLiteral("asha"), QStringLiteral(" pass word "), false);
        QTRY_COMPARE(signedIn.count(), 2);
        QVERIFY(!Prefs::contains(Prefs::kRememberUser.name));
        QVERIFY(!SessionStore::load());
    }

    void failuresShowTheirTextsAndPages()
    {
        Rig rig;
        LoginWindow w;
        w.show();
        Form f{w};
        // Wrong password.
        f.signIn(QStringLiteral("demo"), QStringLiteral("nope"), false);
        QTRY_VERIFY(f.error()->isVisible());
        QCOMPARE(f.error()->text(), QStringLiteral("Username or password is incorrect."));
        QVERIFY(f.password()->text().isEmpty());
        QCOMPARE(f.user()->text(), QStringLiteral("demo"));
        QVERIFY(f.button(QStringLiteral("Sign in"))->isEnabled());

        // Too many attempts: the lockout page with the server's message, even
        // when the same answer asks for a code.
        QJsonObject locked = codeAnswer(6, 300);
        locked.insert(QStringLiteral("message"), QStringLiteral("Too many attempts. Try again in 15 minutes."));
        rig.server.script(QStringLiteral("/v2/login/"), Answer::json(429, locked));
        f.signIn(QStringLiteral("demo"), QStringLiteral("secret"), false);
        QTRY_COMPARE(w.currentPage(), LoginWindow::LockoutPage);
        QVERIFY(labelNamed(&w, QStringLiteral("Too many attempts. Try again in 15 minutes.")));
        QTest::mouseClick(f.button(QStringLiteral("Back to sign in")), Qt::LeftButton);
        QCOMPARE(w.currentPage(), LoginWindow::FormPage);

        // Mobile verification shows the link.
        rig.server.script(QStringLiteral("/v2/login/"),
                          Answer::json(200,
                                       {{QStringLiteral("next"), QStringLiteral("mobile")},
                                        {QStringLiteral("mobile_verification_link"),
                                         QStringLiteral("https://verify.example.org/t/abc")}}));
        f.signIn(QStringLiteral("demo"), QStringLiteral("secret"), false);
        QTRY_COMPARE(w.currentPage(), LoginWindow::MobilePage);
        QVERIFY(labelNamed(&w, QStringLiteral("https://verify.example.org/t/abc")));
        QTest::mouseClick(f.button(QStringLiteral("Back to sign in")), Qt::LeftButton);

        // An answer claiming success without a token.
        rig.server.script(QStringLiteral("/v2/login/"),
                          Answer::json(200, {{QStringLiteral("next"), QStringLiteral("ok")}}));
        f.signIn(QStringLiteral("demo"), QStringLiteral("secret"), false);
        QTRY_COMPARE(f.error()->text(), QStringLiteral("Sign-in did not return a session."));
        QCOMPARE(w.currentPage(), LoginWindow::FormPage);
    }

    void returnWhileSigningInSendsNothingMore()
    {
        Rig rig;
        rig.server.delayRule = [](const orgserver::Request& r) {
            return r.path == QLatin1String("/v2/login/") ? 300 : 0;
        };
        LoginWindow w;
        w.show();
        QSignalSpy signedIn(&w, &LoginWindow::signedIn);
        Form f{w};
        f.signIn(QStringLiteral("demo"), QStringLiteral("secret"), false);
        QCOMPARE(f.button(QStringLiteral("Signing in"))->isEnabled(), false);
        QTest::keyClick(f.password(), Qt::Key_Return);
        QTest::keyClick(f.user(), Qt::Key_Return);
        QTRY_COMPARE(signedIn.count(), 1);
        QCOMPARE(rig.server.countOf(QStringLiteral("/v2/login/")), 1);
    }

    void codeBoxesTypePasteAndBackspace()
    {
        Rig rig;
        LoginWindow w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Form f{w};
        f.signIn(QStringLiteral("otp"), QStringLiteral("secret"), false);
        QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
        QVERIFY(labelNamed(&w, QStringLiteral("Enter the 6-digit code sent to +91 98xxxxx210.")));
        const QList<QLineEdit*> boxes = w.otpBoxes();
        QCOMPARE(boxes.size(), 6);
        QTRY_VERIFY(boxes[0]->hasFocus());

        // Typing moves on; a letter is refused where it was typed.
        boxes[2]->setFocus();
        QTest::keyClick(boxes[2], Qt::Key_7);
        QTRY_VERIFY(boxes[3]->hasFocus());
        QTest::keyClick(boxes[3], Qt::Key_X);
        QCOMPARE(boxes[3]->text(), QString());
        QVERIFY(boxes[3]->hasFocus());
        // A second digit in a filled box spreads from the first box.
        boxes[2]->setFocus();
        boxes[2]->end(false);
        QTest::keyClick(boxes[2], Qt::Key_8);
        QCOMPARE(w.otpCode(), QStringLiteral("78"));
        QTRY_VERIFY(boxes[1]->hasFocus());
        // Backspace in an empty box clears the one before and goes there; in
        // the empty first box it does nothing special.
        boxes[2]->setFocus();
        QTest::keyClick(boxes[2], Qt::Key_Backspace);
        QCOMPARE(boxes[1]->text(), QString());
        QTRY_VERIFY(boxes[1]->hasFocus());
        boxes[0]->clear();
        boxes[0]->setFocus();
        QTest::keyClick(boxes[0], Qt::Key_Backspace);
        QVERIFY(boxes[0]->hasFocus());
        // A pasted code with separators fills all six boxes, focus in the last.
        boxes[3]->setText(QStringLiteral("123-456"));
        QCOMPARE(w.otpCode(), QStringLiteral("123456"));
        QTRY_VERIFY(boxes[5]->hasFocus());
        boxes[1]->setText(QStringLiteral("987 654"));
        QCOMPARE(w.otpCode(), QStringLiteral("987654"));

        // Five digits: nothing is sent.
        boxes[5]->clear();
        QTest::mouseClick(f.button(QStringLiteral("Verify")), Qt::LeftButton);
        QCOMPARE(f.codeError()->text(), QStringLiteral("Enter the 6-digit code."));
        QCOMPARE(rig.server.countOf(QStringLiteral("/api/otp/verify/")), 0);
    }

    void codeStepSignsInAndReturnsToTheForm()
    {
        Rig rig;
        LoginWindow w;
        w.show();
        QSignalSpy signedIn(&w, &LoginWindow::signedIn);
        Form f{w};
        for (int round = 1; round <= 2; ++round) {
            f.signIn(QStringLiteral("otp"), QStringLiteral("secret"), false);
            QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
            w.otpBoxes()[0]->setText(QStringLiteral("111111"));
            QTest::keyClick(w.otpBoxes()[5], Qt::Key_Return);
            QTRY_VERIFY(f.codeError()->isVisible());
            QCOMPARE(f.codeError()->text(), QStringLiteral("That code is incorrect."));
            QCOMPARE(w.otpCode(), QStringLiteral("111111")); // kept after a refusal
            w.otpBoxes()[0]->setText(QStringLiteral("123456"));
            QTest::mouseClick(f.button(QStringLiteral("Verify")), Qt::LeftButton);
            QTRY_COMPARE(signedIn.count(), round);
            // Shown again after a sign-out, the window offers the form, not a spent code page.
            QCOMPARE(w.currentPage(), LoginWindow::FormPage);
        }
    }

    void otherCodeLengthsUseTheSingleField()
    {
        Rig rig;
        LoginWindow w;
        w.show();
        Form f{w};
        for (int length : {4, 0, -2}) {
            rig.server.script(QStringLiteral("/v2/login/"), Answer::json(200, codeAnswer(length, 300)));
            f.signIn(QStringLiteral("demo"), QStringLiteral("secret"), false);
            QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
            auto* single = w.findChild<QLineEdit*>(QStringLiteral("OtpField"));
            if (length == 4) {
                QVERIFY(single->isVisible());
                QCOMPARE(single->maxLength(), 4);
                QVERIFY(w.otpBoxes().isEmpty());
                QVERIFY(labelNamed(&w, QStringLiteral("Enter the 4-digit code sent to +91 98xxxxx210.")));
            } else {
                QCOMPARE(w.otpBoxes().size(), 6); // a length below 1 counts as 6
                QVERIFY(!single->isVisible());
            }
            QTest::mouseClick(f.button(QStringLiteral("Back to sign in")), Qt::LeftButton);
        }
    }

    void resendCountdownAndAnswers()
    {
        Rig rig;
        LoginWindow w;
        w.show();
        Form f{w};
        rig.server.script(QStringLiteral("/v2/login/"), Answer::json(200, codeAnswer(6, 2)));
        f.signIn(QStringLiteral("otp"), QStringLiteral("secret"), false);
        QTRY_COMPARE(w.currentPage(), LoginWindow::CodePage);
        QPushButton* resend = f.button(QStringLiteral("Resend code in 0:02"));
        QVERIFY(resend);
        QVERIFY(!resend->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(resend->text(), QStringLiteral("Resend code in 0:01"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(resend->isEnabled(), 6000);
        QCOMPARE(resend->text(), QStringLiteral("Resend code"));

        // A resend answer that starts no countdown leaves the button usable.
        rig.server.script(QStringLiteral("/api/otp/regenerate/"),
                          Answer::json(200,
                                       {{QStringLiteral("success"), false},
                                        {QStringLiteral("message"), QStringLiteral("A code already exists.")}}));
        QTest::mouseClick(resend, Qt::LeftButton);
        QVERIFY(!resend->isEnabled());
        QTRY_VERIFY(resend->isEnabled());
        QVERIFY(!f.codeError()->isVisible());

        // A confirmed resend with a new validity counts down again.
        rig.server.script(QStringLiteral("/api/otp/regenerate/"),
                          Answer::json(200, {{QStringLiteral("success"), true}, {QStringLiteral("time"), 90}}));
        QTest::mouseClick(resend, Qt::LeftButton);
        QTRY_COMPARE(resend->text(), QStringLiteral("Code sent"));
        QVERIFY(!resend->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(resend->text(), QStringLiteral("Resend code in 1:29"), 5000);

        // A refusal of further resends is a lockout.
        QTest::mouseClick(f.button(QStringLiteral("Back to sign in")), Qt::LeftButton);
        rig.server.script(QStringLiteral("/v2/login/"), Answer::json(200, codeAnswer(6, 1)));
        f.signIn(QStringLiteral("otp"), QStringLiteral("secret"), false);
        QTRY_VERIFY_WITH_TIMEOUT(
            f.button(QStringLiteral("Resend code")) && f.button(QStringLiteral("Resend code"))->isEnabled(), 6000);
        rig.server.script(QStringLiteral("/api/otp/regenerate/"),
                          Answer::json(429, {{QStringLiteral("message"), QStringLiteral("Slow down.")}}));
        QTest::mouseClick(f.button(QStringLiteral("Resend code")), Qt::LeftButton);
        QTRY_COMPARE(w.currentPage(), LoginWindow::LockoutPage);
    }

    void restoreSignsInKeepsThroughOutagesAndForgetsRefusals()
    {
        Rig rig;
        // A refresh token the server issued.
        ApiClient& api = AppContext::instance().api;
        bool done = false;
        LoginStart first;
        api.login(QStringLiteral("demo"), QStringLiteral("secret"), true, [&](const LoginStart& a) {
            first = a;
            done = true;
        });
        QTRY_VERIFY(done);
        api.logout();
        QVERIFY(SessionStore::save({QStringLiteral("demo"), first.refreshToken, QDateTime::currentDateTimeUtc()}));

        {
            LoginWindow w;
            w.show();
            QSignalSpy signedIn(&w, &LoginWindow::signedIn);
            w.restoreSavedSession();
            QVERIFY(w.restoring());
            QTRY_COMPARE(signedIn.count(), 1);
            QVERIFY(!w.restoring());
            QCOMPARE(fieldOf(&w, QStringLiteral("Username"))->text(), QStringLiteral("demo"));
            QVERIFY(w.findChild<QCheckBox*>()->isChecked());
        }
        // The rotated token is stored (start-up wires that); with the old one
        // the server refuses, which forgets the remembered sign-in.
        api.logout();
        QVERIFY(SessionStore::save({QStringLiteral("demo"), first.refreshToken, QDateTime::currentDateTimeUtc()}));
        {
            LoginWindow w;
            w.show();
            QSignalSpy signedIn(&w, &LoginWindow::signedIn);
            w.restoreSavedSession();
            QTRY_VERIFY(!w.restoring());
            QCOMPARE(signedIn.count(), 0);
            QVERIFY(!SessionStore::load());
            QVERIFY(!labelNamed(&w, QStringLiteral("Username or password is incorrect.")));
        }
        // No answer at all (nothing listens): the remembered sign-in stays.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        api.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
        QVERIFY(SessionStore::save(
            {QStringLiteral("demo"), QStringLiteral("some-token"), QDateTime::currentDateTimeUtc()}));
        {
            LoginWindow w;
            w.show();
            w.restoreSavedSession();
            QTRY_VERIFY(!w.restoring());
            QVERIFY(SessionStore::load());
        }
        // A server that hangs up without answering: kept too.
        api.setBaseUrl(rig.server.baseUrl());
        rig.server.script(QStringLiteral("/v2/token/refresh/"), Answer::hangUp(), -1);
        {
            LoginWindow w;
            w.show();
            w.restoreSavedSession();
            QTRY_VERIFY(!w.restoring());
            QVERIFY(SessionStore::load());
        }
    }

    void serverDialogSavesAndKeepsTheSignInForTheSameServer()
    {
        Rig rig;
        const QString base = rig.server.baseUrl();
        QVERIFY(SessionStore::save({QStringLiteral("demo"), QStringLiteral("tok"), QDateTime::currentDateTimeUtc()}));
        LoginWindow w;
        w.show();
        Form f{w};
        f.signIn(QStringLiteral("demo"), QStringLiteral("bad"), false);
        QTRY_VERIFY(f.error()->isVisible());

        auto answerDialog = [](const QString& server, const QString& relay, bool alwaysNative, const QString& button) {
            Modal::respond([=](QDialog& d) {
                fieldOf(&d, QStringLiteral("Server address"))->setText(server);
                fieldOf(&d, QStringLiteral("Video relay address (optional)"))->setText(relay);
                d.findChild<QCheckBox*>()->setChecked(alwaysNative);
                buttonNamed(&d, button)->click();
                return d.result();
            });
        };
        // Cancel changes nothing.
        answerDialog(QStringLiteral("other.example.org"), QString(), false, QStringLiteral("Cancel"));
        QTest::mouseClick(f.button(QStringLiteral("Server: 127.0.0.1")), Qt::LeftButton);
        QTRY_COMPARE(Modal::pending(), 0);
        QVERIFY(f.error()->isVisible());

        // The same server again, with a relay: the remembered sign-in stays.
        answerDialog(base + QStringLiteral("/"), QStringLiteral(" 127.0.0.1:8554 "), false, QStringLiteral("Save"));
        QTest::mouseClick(f.button(QStringLiteral("Server: 127.0.0.1")), Qt::LeftButton);
        QTRY_COMPARE(Modal::pending(), 0);
        QVERIFY(!f.error()->isVisible());
        QVERIFY(SessionStore::load());
        QCOMPARE(Prefs::get(Prefs::kServerBase), base);
        QCOMPARE(Prefs::get(Prefs::kRelayAddress), QStringLiteral("127.0.0.1:8554"));
        QVERIFY(!Prefs::get(Prefs::kNativeMode));

        // Another server, written without a scheme: forgotten, the label follows.
        answerDialog(QStringLiteral("10.1.2.3:9000/app?x=1"), QString(), true, QStringLiteral("Save"));
        QTest::mouseClick(f.button(QStringLiteral("Server: 127.0.0.1")), Qt::LeftButton);
        QTRY_VERIFY(f.button(QStringLiteral("Server: 10.1.2.3")));
        QVERIFY(!SessionStore::load());
        QCOMPARE(Prefs::get(Prefs::kServerBase), QStringLiteral("https://10.1.2.3:9000"));
        QVERIFY(!Prefs::contains(Prefs::kRelayAddress.name));
        QVERIFY(Prefs::get(Prefs::kNativeMode));

        // "Open native" without the box: native now, not at every start; addresses not saved.
        QSignalSpy native(&w, &LoginWindow::openNativeRequested);
        answerDialog(QStringLiteral("elsewhere.example.org"), QString(), false, QStringLiteral("Open native"));
        QTest::mouseClick(f.button(QStringLiteral("Server: 10.1.2.3")), Qt::LeftButton);
        QTRY_COMPARE(native.count(), 1);
        QVERIFY(!Prefs::get(Prefs::kNativeMode));
        QCOMPARE(Prefs::get(Prefs::kServerBase), QStringLiteral("https://10.1.2.3:9000"));

        // An unusable address keeps the dialog open with the example.
        AppContext::instance().api.setBaseUrl(base);
        ServerDialog d;
        fieldOf(&d, QStringLiteral("Server address"))->setText(QStringLiteral("ftp://x"));
        d.save();
        QVERIFY(!d.result());
        QVERIFY(labelNamed(
            &d, QStringLiteral("Enter the server address, for example %1").arg(ApiClient::defaultBaseUrl())));
        Prefs::remove(Prefs::kServerBase.name);
        Prefs::remove(Prefs::kNativeMode.name);
    }

    void connectionTestReportsServerAndVideo()
    {
        Rig rig;
        QTcpServer relay;
        QVERIFY(relay.listen(QHostAddress::LocalHost));
        ServerDialog d;
        d.show();
        fieldOf(&d, QStringLiteral("Server address"))->setText(rig.server.baseUrl());
        QLabel* result = nullptr;
        for (QLabel* l : d.findChildren<QLabel*>())
            if (l->minimumHeight() == 68)
                result = l;
        QVERIFY(result);
        QPushButton* test = buttonNamed<QPushButton>(&d, QStringLiteral("Test connection"));

        fieldOf(&d, QStringLiteral("Video relay address (optional)"))
            ->setText(QStringLiteral("127.0.0.1:%1").arg(relay.serverPort()));
        d.runTest();
        QVERIFY(!test->isEnabled());
        QCOMPARE(result->text(), QStringLiteral("Testing…"));
        QTRY_VERIFY(test->isEnabled());
        QCOMPARE(
            result->text(),
            QStringLiteral("Server: reachable (127.0.0.1)\nVideo: reachable (127.0.0.1:%1)").arg(relay.serverPort()));
        QCOMPARE(result->styleSheet(), QStringLiteral("color: #5fe0a0;"));
        QCOMPARE(rig.server.countOf(QStringLiteral("/v2/auth/me/")), 1); // answered 401: reachable

        const quint16 dead = relay.serverPort();
        relay.close();
        d.runTest();
        QTRY_VERIFY(test->isEnabled());
        QVERIFY(result->text().contains(
            QStringLiteral("Video: no direct address reachable from here (127.0.0.1:%1)").arg(dead)));
        QCOMPARE(result->styleSheet(), QStringLiteral("color: #f5c26b;"));

        fieldOf(&d, QStringLiteral("Server address"))->setText(QStringLiteral("http://127.0.0.1:%1").arg(dead));
        d.runTest();
        QTRY_VERIFY(test->isEnabled());
        QVERIFY(result->text().startsWith(QStringLiteral("Server: can’t reach 127.0.0.1 (")));
        QCOMPARE(result->styleSheet(), QStringLiteral("color: #ff8a8e;"));
    }

    void filmCopyIsWrittenOnceAndRestartsWithTheWindow()
    {
        QTemporaryDir dir;
        const QString copy = BrandVideo::copyOut(QStringLiteral(":/brand/login.mp4"), dir.path());
        QVERIFY(!copy.isEmpty());
        const qint64 size = QFile(QStringLiteral(":/brand/login.mp4")).size();
        QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("kvr-login-film-%1.mp4").arg(size));
        // A truncated copy of the right name is written again; a whole one is used as it is.
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        QFile f(copy);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("short");
        f.close();
        QCOMPARE(BrandVideo::copyOut(QStringLiteral(":/brand/login.mp4"), dir.path()), copy);
        QCOMPARE(QFileInfo(copy).size(), size);
        const QDateTime written = QFileInfo(copy).lastModified();
        BrandVideo::copyOut(QStringLiteral(":/brand/login.mp4"), dir.path());
        QCOMPARE(QFileInfo(copy).lastModified(), written);
        QCOMPARE(BrandVideo::copyOut(QStringLiteral(":/none.mp4"), dir.path()), QString());

        LoginWindow w;
        auto* film = w.findChild<BrandVideo*>();
        QVERIFY(film && !film->player()->audioEnabled && film->player()->loop);
        w.show();
        QTRY_VERIFY(film->player()->isRunning());
        const int generation = film->player()->currentGeneration();
        w.show(); // no hide in between: not restarted
        QCOMPARE(film->player()->currentGeneration(), generation);
        w.hide();
        QVERIFY(!film->player()->isRunning());
        w.show();
        QTRY_VERIFY(film->player()->isRunning());
        QVERIFY(film->player()->currentGeneration() != generation);
    }
};

KVR_TEST_MAIN(TestLoginWindow)
#include "tst_login_window.moc"
