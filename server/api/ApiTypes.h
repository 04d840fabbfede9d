#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

// Records the server client reads from the server's answers and hands to its
// callers. Plain values, freely copied.

// One camera of a device in the server catalogue.
struct Channel {
    QString id;
    QString deviceId;
    QString name;
    qint32 number = 0;
    bool online = false;
    bool onlineKnown = false;
    bool recordingEnabled = false;
};

// A device of a site in the server catalogue.
struct Device {
    QString id;
    QString siteId;
    QString name;
    QString serial;
    QString brand; // always lower case
    bool online = false;
    bool onlineKnown = false;
    QDateTime checkedAt; // left invalid by the catalogue
    QList<Channel> channels;
};

// A site of the chosen organisation.
struct Site {
    QString id;
    QString name;
    bool loading = false;
    QList<Device> devices;
};

// The signed-in user.
struct UserProfile {
    QString username;
    QString firstName;
    QString role;
    QString organisationName;
    QString organisationId;
    bool canView = true;
    bool canAdd = false;
    bool canEdit = false;
    bool superuser = false;
    bool headOffice = false;
    bool recordingEnabled = false;
    QString cloudRecordingStreamType = QStringLiteral("MAIN");
    QString streamType;
};

// The result of one sign-in step (sign-in, code check, code resend, refresh).
struct LoginStart {
    enum Step { SignedIn = 0, CodeRequired = 1, MobileVerification = 2, Failed = 3 };

    qint32 step = Failed;
    QString accessToken;
    QString refreshToken;
    qint32 expiresIn = 0;
    QString userId;
    qint32 otpLength = 6;
    qint32 otpTime = 0;
    qint32 attempts = 0;
    QString contact;
    QUrl verificationLink;
    QString error;
    QString message;
    UserProfile user;
    bool userNotFound = false;
    bool otpResent = false;
    bool otpAlreadySent = false;
    bool rememberMe = false;
};

// An organisation the user may choose.
struct Organisation {
    QString id;
    QString name;
    bool headOffice = false;
};

// A camera selection saved on the server.
struct Preset {
    QString id;
    QString name;
    QString updatedAt;
    QList<QString> cameraIds;
};

// One camera of a preset.
struct PresetCamera {
    QString id;
    QString name;
    QString deviceId;
    bool online = false;
    bool onlineKnown = false;
};

// One started server stream. A superseded result has every other field empty.
struct StreamInfo {
    bool publicRtsps = false;
    QString rtspUser;
    QString rtspPassword;
    bool hls = false;
    bool superseded = false;
    QString url;
    QString streamId;
    QString playId;
    QString cameraId;
};

// A cloud-archive playback request.
struct CloudPlayRequest {
    QString cameraId;
    QDate date;
    QString startTime; // "HH:mm" or longer
    QString endTime;   // clock text, or "current"
};
