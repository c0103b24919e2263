// Unpacking a ZIP file over a folder, with minizip and zlib.
#pragma once

#include "runtime/Text.h"

// Told after each member (index from 0, member count, full path written) and
// once more with (count, count, last path) when the walk ends; returning
// false stops the walk.
using ExtractObserver = bool (*)(int index, int count, const Text& fullPath, void* context);

// The ZIP component of the main window: it hosts the progress observer.
struct ZipComponent {
    ExtractObserver observer = nullptr;
    void* context = nullptr;
};

// 1: the walk reached the end (or the observer stopped it); 0: it stopped at
// a failure; -1: an argument is missing or the archive does not exist.
int ExtractArchive(ZipComponent* component, const Text& archivePath, const Text& targetFolder);
