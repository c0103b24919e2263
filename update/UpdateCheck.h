// The check for a newer version against the two announcement pages.
#pragma once

// Offers a newer version when one is announced; tells the user that the
// program is current only when silentWhenCurrent is false.
void CheckForUpdate(bool silentWhenCurrent);
