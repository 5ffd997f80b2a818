// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TForm1;

// BitBtn4: deletes the marked messages on the server.
void deleteMarked(TForm1 &form);
