// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TForm1;

// BitBtn5: saves the previewed message's attachments into the data folder.
void saveAttachments(TForm1 &form);
