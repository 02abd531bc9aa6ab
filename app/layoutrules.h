#pragma once
// Geometry rules of the main window that do not need a widget to be tested.

namespace fenwa {

// The logo is centred in the space right of the last separator of the top band, but
// never overlaps it: it stays at least 2 pixels right of the separator. Division
// truncates toward zero, as the window's own arithmetic does.
constexpr int logoLeft(int clientWidth, int bevelLeft, int bevelWidth, int imageWidth) {
    const int free = clientWidth - (bevelLeft + bevelWidth + imageWidth);
    int left = bevelLeft + free / 2 + bevelWidth;
    if (left < bevelLeft + bevelWidth + 2)
        left = bevelLeft + bevelWidth + 2;
    return left;
}

} // namespace fenwa
