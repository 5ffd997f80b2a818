#include "deletion/Deletion.h"

// Placeholder: the deletion of marked messages replaces this.
void deleteMarked(TForm1 &) {}
