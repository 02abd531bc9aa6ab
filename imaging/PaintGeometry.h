#pragma once
// Where the image view control draws its picture and which strips around it it
// fills with its colour: a pure function of the client rectangle, the control's
// size, the picture's size and the two placement flags.

#include <array>
#include <cstdint>

// A rectangle by its edges; right and bottom are exclusive.
struct TEdges {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const TEdges&) const = default;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

struct TPaintLayout {
    bool hasPicture = false;
    bool stretched = false; // drawn scaled rather than at natural size
    TEdges picture;         // where the picture is drawn
    // Filled with the control's colour in this order: above, right, below, left.
    std::array<TEdges, 4> strips{};
};

// a * b / c with a 64-bit intermediate, rounded to the nearest integer (halves away
// from zero); -1 when c is 0.
int MulDiv(int a, int b, int c);

// client: the client rectangle; controlWidth/Height: the control's size (the strips
// reach its edges); pictureWidth/Height: the picture's size, 0 for no picture.
TPaintLayout ComputePaintLayout(const TEdges& client, int controlWidth, int controlHeight,
                                int pictureWidth, int pictureHeight, bool stretchRatio,
                                bool centerView);
