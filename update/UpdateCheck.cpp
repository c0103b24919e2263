#include "update/UpdateCheck.h"

// The announcement pages are not read yet: no version is ever offered.
void CheckForUpdate(bool) {}
