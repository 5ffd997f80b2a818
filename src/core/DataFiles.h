// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// The files the program itself reads from the data folder. Saved attachments share that folder,
// and a mail must never be able to put one of its attachments in their place.
namespace datafiles {

inline constexpr char kBlacklist[] = "Liste-noire.txt";
inline constexpr char kCertificates[] = "Certificats.txt";
inline constexpr char kEncryptedServers[] = "Serveurs-chiffres.txt";
inline constexpr char kCheckSeen[] = "pelicorde-check.uid";
// Account files, the favourite "_Favori.adr" among them: the account list takes every name
// with this suffix in any letter case.
inline constexpr char kAccountSuffix[] = ".adr";

// True when the program reads a file of this name (a bare name, compared as the file system
// does: letter case counts, but for the account suffix, which the list takes in any case).
inline bool isProgramFile(const QString &name)
{
    for (const char *fixed : {kBlacklist, kCertificates, kEncryptedServers, kCheckSeen})
        if (name == QLatin1String(fixed))
            return true;
    return name.endsWith(QLatin1String(kAccountSuffix), Qt::CaseInsensitive);
}

} // namespace datafiles
