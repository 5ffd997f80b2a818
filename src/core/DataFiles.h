// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// The files the program itself reads from the data folder. Saved attachments share that folder,
// and a mail must never be able to put one of its attachments in their place.
namespace datafiles {

inline constexpr char kBlacklist[] = "Liste-noire.txt";
// The senders never ticked, in the blacklist's format.
inline constexpr char kFriends[] = "Liste-amis.txt";
inline constexpr char kCertificates[] = "Certificats.txt";
inline constexpr char kEncryptedServers[] = "Serveurs-chiffres.txt";
inline constexpr char kCheckSeen[] = "pelicorde-check.uid";
// The window's options that outlive it (core/Options.h).
inline constexpr char kOptions[] = "Options.txt";
// The learned score's SQLite database. SQLite also reads the files it keeps beside it (the
// write-ahead log, its index, a rollback journal): a saved attachment must take none of those
// names either, or its bytes would be read as learned counts.
inline constexpr char kLearning[] = "Apprentissage.sqlite";
inline constexpr const char *kLearningCompanions[] = {"-wal", "-shm", "-journal"};
// Account files, the favourite "_Favori.adr" among them: the account list takes every name
// with this suffix in any letter case.
inline constexpr char kAccountSuffix[] = ".adr";

// True when the program reads a file of this name (a bare name, compared as the file system
// does: letter case counts, but for the account suffix, which the list takes in any case).
inline bool isProgramFile(const QString &name)
{
    for (const char *fixed : {kBlacklist, kFriends, kCertificates, kEncryptedServers, kCheckSeen, kOptions, kLearning})
        if (name == QLatin1String(fixed))
            return true;
    for (const char *suffix : kLearningCompanions)
        if (name == QLatin1String(kLearning) + QLatin1String(suffix))
            return true;
    return name.endsWith(QLatin1String(kAccountSuffix), Qt::CaseInsensitive);
}

} // namespace datafiles
