// The marquee notice along the bottom edge and the flickering red captions.
#include "app/MainWindow.h"
#include "runtime/Text.h"

void ScrollNotice() {
    int left = GetProperty(MainWindow(), "标签2", kPropLeft).number;
    const int width = GetProperty(MainWindow(), "标签2", kPropWidth).number;
    // Its right edge has reached the window's left edge: come back from the right.
    if (left + width == 0) {
        left = GetProperty(MainWindow(), nullptr, kPropWidth).number;
        SetProperty(MainWindow(), "标签2", kPropLeft, left);
    }
    SetProperty(MainWindow(), "标签2", kPropLeft, left - 1);
}

void FlickerColour(const char* target, int colourProperty) {
    const int red = RandomInt(100, 255);
    SetProperty(MainWindow(), target, colourProperty, Rgb(red, 0, 0));
}
