// The preview pop-up: a small window beside a control, showing a picture and
// a caption, that never takes the focus. The window layer opens it for a
// control whose layout entry has onPointedAt (after the pointer rests on the
// control, or when the keyboard moves the focus to it) and closes it by
// itself: when the pointer leaves, on a click, on Esc, when the focus moves
// on, when the window is deactivated.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/Text.h"
#include "runtime/Window.h"

// Rows top to bottom, each pixel 0x00RRGGBB.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

// How long the pointer rests on a control before its pop-up shows.
constexpr unsigned kPreviewHoverMs = 400;

// Shows the pop-up beside the window's control (replacing one shown for
// another); meant to be called from onPointedAt. Nothing happens when the
// picture is empty or the window is not the active one.
void ShowPreviewPopup(WindowRef window, const char* control, const Picture& picture, const Text& caption);
void HidePreviewPopup();
bool PreviewPopupShown();
