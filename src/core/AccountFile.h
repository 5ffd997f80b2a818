// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// Account files: the four connection fields, each ended by LF, in Windows-1252, scrambled
// byte by byte. One file per receiving address ("<address>.adr") in the data folder; the
// favourite is the copy "_Favori.adr".
namespace accounts {

struct Account
{
    QString server;   // Edit3
    QString port;     // Edit4, as typed
    QString password; // Edit16
    QString address;  // Edit15, also the account name
    bool operator==(const Account &) const = default;
    // All four filled in: what a connection needs.
    bool complete() const { return !server.isEmpty() && !port.isEmpty() && !password.isEmpty() && !address.isEmpty(); }
};

// An account file holds at most this many bytes (the four fields and their LFs): a longer
// one is not read, and an account that would need more is not saved.
inline constexpr qint64 kMaxFileBytes = 999;

// Scrambling seed: the byte at 1-based position i is stored XOR (kScrambleSeed + i) mod 256.
inline constexpr unsigned char kScrambleSeed = 0x6B;

// Scrambles plain bytes or unscrambles stored ones (the step undoes itself).
QByteArray scrambled(QByteArray bytes);

// Stored bytes of an account: the four fields in file order, each + LF, in Windows-1252, scrambled.
QByteArray encodeAccount(const Account &account);
// The account held by stored bytes, or nothing when the unscrambled content holds a NUL
// (damaged file). Missing LFs leave the fields from that one on empty; text after the fourth
// LF is ignored.
std::optional<Account> decodeAccount(const QByteArray &stored);

// "<dataFolder>/<name>.adr"
QString accountFilePath(const QString &dataFolder, const QString &accountName);
QString favouriteFilePath(const QString &dataFolder);
// "_Favori": the favourite's account name (never listed).
QString favouriteName();

// Writes bytes to path atomically (new file, then replace), mode 0600 (files::writePrivate).
// False when nothing could be written, *why then saying why and naming the file; an existing
// file at path is left as it was, and a link or device there is refused, never written through.
bool writePrivateFile(const QString &path, const QByteArray &bytes, QString *why = nullptr);

enum class SaveStatus {
    Saved,          // confirmation message
    EmptyField,     // nothing written, nothing shown
    InvalidAddress, // address unusable as a file name: refusal message, nothing written
    InvalidField,   // a field holds LF or NUL, which the format cannot store: refusal message
    TooLong,        // the fields need more than kMaxFileBytes: refusal message, nothing written
    WriteFailed,    // the file could not be written: nothing shown, any old file kept
    NotAFile,       // a link, a device or a folder stands at the file's name: refusal message
};

// What the account saver would refuse, nothing written: Saved when it would write.
SaveStatus checkAccount(const QString &dataFolder, const Account &account);
// The account saver: writes the account to "<dataFolder>/<address>.adr", replacing any
// file of that name.
SaveStatus saveAccount(const QString &dataFolder, const Account &account);
// The text to show for a save's outcome; empty when nothing is shown. path: the account file.
QString saveMessage(SaveStatus status, const QString &path = {});

enum class LoadStatus {
    Loaded,     // fields holds the account: set Edit3, Edit4, Edit16, Edit15 in that order
    Missing,    // no favourite: change nothing, show nothing
    Unreadable, // it exists but cannot be read (not a regular file, over kMaxFileBytes): beep, change nothing
    Damaged,    // NUL in the content: change nothing, show nothing
};

struct LoadResult
{
    LoadStatus status = LoadStatus::Missing;
    Account fields; // meaningful only when Loaded
};

// Reads one account file.
LoadResult loadAccountFile(const QString &path);
// The favourite loader: reads "<dataFolder>/_Favori.adr".
LoadResult loadFavourite(const QString &dataFolder);

} // namespace accounts
