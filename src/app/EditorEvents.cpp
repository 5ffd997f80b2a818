// SPDX-License-Identifier: GPL-3.0-or-later
// TForm2's event handlers: each runs the blacklist's own. The editor's design is in window/.
#include "window/PelicordeFS1.h"

#include "blacklist/BlacklistHandlers.h"
#include "core/Error.h"

void TForm2::BitBtn1Click() { guarded([this] { saveBlacklistAndClose(*this); }); }

void TForm2::BitBtn2Click() { guarded([this] { closeBlacklistEditor(*this); }); }
