#include "PaintGeometry.h"

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const int64_t product = int64_t(a) * int64_t(b);
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = product < 0 ? -product : product;
    const int64_t divisor = c < 0 ? -int64_t(c) : int64_t(c);
    const int64_t rounded = (magnitude + divisor / 2) / divisor;
    return int(negative ? -rounded : rounded);
}

TPaintLayout ComputePaintLayout(const TEdges& client, int controlWidth, int controlHeight,
                                int pictureWidth, int pictureHeight, bool stretchRatio,
                                bool centerView) {
    TPaintLayout layout;
    const int w = pictureWidth;
    const int h = pictureHeight;
    if (w <= 0 || h <= 0)
        return layout;
    layout.hasPicture = true;
    const int cw = client.width();
    const int ch = client.height();
    const bool fits = w <= cw && h <= ch;

    int x = 0;
    int y = 0;
    int pictureRight = 0;
    int pictureBottom = 0;
    if (!fits && stretchRatio) {
        // Anchored at the top-left corner and never centred; the computed side may run
        // past the client and is clipped there.
        int width = 0;
        int height = 0;
        if (w > h) {
            width = cw;
            height = MulDiv(h, cw, w);
        } else {
            height = ch;
            width = MulDiv(w, ch, h);
        }
        layout.stretched = true;
        layout.picture = {client.left, client.top, client.left + width, client.top + height};
        pictureRight = client.left + width;
        pictureBottom = client.top + height;
    } else {
        if (centerView) {
            // Division truncates toward zero, as C++ does.
            x = client.left + (cw - w) / 2;
            y = client.top + (ch - h) / 2;
        }
        layout.picture = {x, y, x + w, y + h};
        pictureRight = x + w;
        pictureBottom = y + h;
    }
    layout.strips = {{
        {0, 0, pictureRight, y},
        {pictureRight, 0, controlWidth, pictureBottom},
        {x, pictureBottom, controlWidth, controlHeight},
        {0, y, x, controlHeight},
    }};
    return layout;
}
