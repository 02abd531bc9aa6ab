#pragma once
// The program's own cursors, registered by number as the window descriptions use them.

#include <QCursor>

namespace fenwa {

inline constexpr int crHandPoint = -101;
inline constexpr int crHandMove = -102;

// The cursor registered under a number; the arrow for an unknown number.
QCursor appCursor(int id);

} // namespace fenwa
