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

// The viewer's arrow keys scroll by a fifth of the client size, rounded.
constexpr int scrollStep(int clientSize) {
    return (clientSize * 2 + 5) / 10;
}

// The part of a move `delta` that keeps a control of `size` at `position` covering a
// client of `clientSize`: its leading edge stays between clientSize - size and 0.
constexpr int clampScroll(int position, int size, int clientSize, int delta) {
    if (position + delta > 0)
        return -position;
    if (position + delta + size < clientSize)
        return clientSize - (size + position);
    return delta;
}

} // namespace fenwa
