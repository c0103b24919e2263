// Each theme's preview picture, embedded as the resource PREVIEWnn beside
// its pack (made at build time by tools/make_previews.py).
#pragma once

#include "runtime/PreviewPopup.h"
#include "runtime/Text.h"
#include "themes/Catalogue.h"

// The picture in the build tool's format ("VPV1": width, height, palette,
// zlib-packed palette indices); empty when the bytes are not one.
Picture DecodePreview(ByteSpan bytes);
// The entry's embedded preview (empty when missing).
Picture ThemePreview(const ThemePack& pack);
// The name shown under it: "王者界面", or "原始界面" for the restore entry.
Text ThemePreviewCaption(const ThemePack& pack);
