#include "attachments/AttachmentSaving.h"

// Placeholder: the attachment saving code replaces this.
void saveAttachments(TForm1 &) {}
