// The window layer: builds the main window from a layout table, delivers its
// events to the logic's handlers and exposes control state as numbered
// properties. Controls are addressed by their layout names.
#pragma once

#include <cstddef>
#include <string>

#include "runtime/Text.h"

enum class ControlKind {
    Window, GroupBox, CheckBox, Button, EditBox, Label, HyperLink,
    Timer, ZipComponent, CommonDialog, Menu, MenuItem,
};

constexpr int kDefaultColour = -1;
constexpr int Rgb(int r, int g, int b) { return r | (g << 8) | (b << 16); }

struct FontSpec {
    const char* face;  // GBK
    int height;
    int weight;
    int charset;
    int pitchAndFamily;
};

using Handler = void (*)();

// One entry of a window layout. Positions are relative to the parent's client
// area; for the window itself they are its outer size. For a label the text
// is drawn on one line, line breaks included.
struct LayoutEntry {
    const char* name;
    ControlKind kind;
    const char* parent;  // nullptr: the window (or, for the window, none)
    int left, top, width, height;
    const char* text;
    int textColour = kDefaultColour;
    int background = kDefaultColour;
    const FontSpec* font = nullptr;  // nullptr: the stock GUI font
    bool tabStop = false;
    Handler onEvent = nullptr;  // clicked, tick or chosen
    // Hyperlink box: the address it opens, and its visited and hover colours.
    const char* target = nullptr;
    int visitedColour = kDefaultColour;
    int hoverColour = kDefaultColour;
    // A handler shared by several controls: told which one was clicked.
    void (*onEventFrom)(const char* name) = nullptr;
    // The pointer rests on the control, or the keyboard gave it the focus:
    // a preview may be shown (runtime/PreviewPopup.h), told which control.
    void (*onPointedAt)(const char* name) = nullptr;
};

// The window's own events; every other event of the window is ignored.
struct WindowEvents {
    Handler created = nullptr;
    bool (*mayClose)() = nullptr;  // also asked when Windows wants to end the session
    Handler sizeChanged = nullptr;
    void (*tray)(int kind) = nullptr;
    Handler shownAgain = nullptr;  // another start of the program asked for the window
};

struct Window;  // one per created layout
using WindowRef = Window*;

// Creates the window and every control hidden, stores the window in *handle,
// raises created, then position-changed and size-changed, and shows the
// window if it still exists. nullptr (and no event) when the system refuses
// the window.
WindowRef CreateLayoutWindow(const LayoutEntry* layout, std::size_t count, const WindowEvents& events,
                             WindowRef* handle);
bool WindowAlive(WindowRef window);

// A property value: a number, a bool or a text.
struct PropertyValue {
    int number = 0;
    Text text;
    PropertyValue() = default;
    PropertyValue(int n) : number(n) {}
    PropertyValue(bool b) : number(b ? 1 : 0) {}
    PropertyValue(const Text& t) : text(t) {}
    PropertyValue(const char* t) : text(t) {}
    bool AsBool() const { return number != 0; }
};

enum PropertyNumber {
    kPropLeft = 0, kPropWidth = 2, kPropVisible = 5, kPropDisabled = 6,
    kPropTitle = 8, kPropContent = 8, kPropInterval = 8,
    kPropLinkColour = 12, kPropTextColour = 16,
    kPropWindowState = 18, kPropTicked = 18,
};
enum WindowState { kStateNormal = 0, kStateMinimised = 2, kStateMaximised = 3 };

// The control name nullptr (or "") addresses the window itself. A menu
// item takes its caption (kPropTitle), greyed state (kPropDisabled) and
// whether it is there at all (kPropVisible), shown the next time its menu
// pops up.
PropertyValue GetProperty(WindowRef window, const char* control, int number);
void SetProperty(WindowRef window, const char* control, int number, const PropertyValue& value);

// The icon is an ICO file's bytes; the tip is cut to 62 bytes.
void SetTrayIcon(WindowRef window, ByteSpan icon, const Text& tip);
// A notification balloon from the window's tray icon.
void ShowTrayBalloon(WindowRef window, const Text& title, const Text& text);
// Pops up the items of a layout menu at a screen point (the cursor + 3 when
// omitted) and runs the chosen item's handler.
void ShowPopupMenu(WindowRef window, const char* menu, int x = -1, int y = -1);
// Destroys the window without asking, at once or when the message that is
// posted now is handled.
void DestroyWindowLater(WindowRef window, bool now = false);

// The runtime's private messages.
constexpr unsigned kTrayCallbackMessage = 0x8064;
constexpr unsigned kDestroyLaterMessage = 0x8065;
constexpr unsigned kTrayIconId = 100;
