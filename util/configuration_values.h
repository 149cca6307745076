// The values the configuration dialog edits and the settings file stores, with their defaults
// and the ranges the program can use. The application reads and writes them; the dialog
// edits them; neither needs the other to do so.
#pragma once

#include <cstdint>

#include "mail/pop3_ports.h"
#include "util/text_record.h"

// Defaults of keys that are absent.
const bool defaultUseTls = true;
const bool defaultStartTls = false;
const int defaultPort = pop3TlsPort;
const int defaultCheckMinutes = 5;
// Absent playsound: no sound on new mail, yet the dialog shows the option switched on.
const bool defaultPlaySoundForNewMail = false;
const bool defaultPlaySoundForDialog = true;
const bool defaultChangeColour = true;
// Red 95, green 255, blue 95, laid out as a Windows COLORREF (0x00BBGGRR).
const uint32_t defaultNewMailColour = 0x005FFF5F;
const bool defaultBalloon = true;

// What the program can use of port and interval. The dialog refuses anything else; a value
// edited into the file by hand is read as the nearest usable one.
const int lowestPort = 1;
const int highestPort = 65535;
const int shortestCheckMinutes = 1;
inline bool isUsablePort(int port)
{
    return port >= lowestPort && port <= highestPort;
}
// A port outside the range becomes the default port of the TLS setting.
inline int usablePort(int port, bool useTls)
{
    if (isUsablePort(port))
        return port;
    return useTls ? pop3TlsPort : pop3PlainPort;
}
// An interval below one minute would reconnect without pause: one minute.
inline int usableCheckMinutes(int minutes)
{
    return minutes < shortestCheckMinutes ? shortestCheckMinutes : minutes;
}

// Server, user name and password go into POP3 command lines of at most 255 characters with
// "PASS " (or "USER ") and CR LF, so the longest usable value is 248 characters.
const int accountCommandLineLimit = 255;
const int accountValueMaxLength = accountCommandLineLimit - 5 - 2;
// Paths (sound file, mail program) are kept in MAX_PATH characters, the NUL included.
const int settingsPathValueSize = 260;

// Makes the form of a password that the settings file holds; false when the platform cannot.
using PasswordProtection = bool (*)(const char* plain, TextRecord& stored);

// Every value of the configuration dialog, as the settings file names them in its order.
struct ConfigurationValues {
    TextRecord server;
    TextRecord username;
    // In clear: what the dialog shows and the checker logs in with.
    TextRecord password;
    // The password as the settings file holds it: protected, or an older file's clear text.
    TextRecord storedPassword;
    bool useTls = defaultUseTls;
    // STARTTLS on the plain port, when useTls is off. Read from the file and kept; the dialog
    // shows useTls only.
    bool startTls = defaultStartTls;
    int port = defaultPort;
    int checkMinutes = defaultCheckMinutes;
    // The SHA-256 of the one certificate trusted for `server` besides the authorities'.
    TextRecord certSha256;
    bool playSound = defaultPlaySoundForDialog;
    TextRecord customSound;
    bool changeColour = defaultChangeColour;
    uint32_t newMailColour = defaultNewMailColour;
    bool balloon = defaultBalloon;
    TextRecord doubleClick;
};
