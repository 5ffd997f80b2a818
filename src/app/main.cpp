// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <cstring>

#include "app/Startup.h"

int main(int argc, char **argv)
{
    // Only these are the program's own; every other argument is Qt's (-reverse, -style ...).
    StartMode mode = StartMode::Window;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tray") == 0)
            mode = StartMode::Tray;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs("Utilisation : pelicorde [OPTION-QT]...\n"
                       "Débarrasse une boîte aux lettres POP3 ou IMAP de ses spams sans télécharger le courrier.\n"
                       "\n"
                       "  --tray     démarre dans la zone de notification (ouverture de session)\n"
                       "  --help     affiche cette aide et quitte\n"
                       "  --version  affiche la version et quitte\n"
                       "\n"
                       "Les autres options sont celles de Qt, par exemple -reverse ou -style NOM.\n"
                       "Données : $APPDATA/Pelicorde, ou ~/.local/share/Pelicorde sans APPDATA.\n"
                       "Voir pelicorde(1).\n",
                       stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pelicorde " PELICORDE_VERSION);
            return 0;
        }
    }
    return runPelicorde(argc, argv, mode);
}
