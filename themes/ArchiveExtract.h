// Unpacking a ZIP file over a folder, with minizip and zlib, all or nothing.
#pragma once

#include "runtime/Text.h"
#include "install/FileHash.h"
#include "install/InstallFailure.h"

// Told after each member is staged (index from 0, member count, full path)
// and once more with (count, count, last path) when the walk ends; returning
// false stops the walk: the members staged so far are then put in place.
using ExtractObserver = bool (*)(int index, int count, const Text& fullPath, void* context);

// The ZIP component of the main window: it hosts the progress observer and
// tells why the last extraction failed.
struct ZipComponent {
    ExtractObserver observer = nullptr;
    void* context = nullptr;
    // When set, the archive being extracted is itself a staged file (this
    // name plus ".velmora-new" in the target) and is swapped into place under
    // this name together with the members: the pack archive of an install.
    Text installAs;
    // When set, the backup store beside the target (BackupStore.h) keeps
    // the originals this extraction replaces and records it as this
    // catalogue entry: an install into a game's Game folder.
    int recordEntry = 0;
    Text recordWord;
    FileHash installAsHash;  // what the archive installed as installAs holds
    InstallFailure failure;  // of the last call that gave 0
};

// 1: every member is in place (or the observer stopped the walk and the
// members before it are); 0: nothing under the target was changed, and the
// component's failure says why; -1: an argument is missing or the archive
// does not exist.
int ExtractArchive(ZipComponent* component, const Text& archivePath, const Text& targetFolder);
