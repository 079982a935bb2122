// The program's own artwork: a green square frame with a white X. One drawing
// serves the logo box of the window and the window icon, so both always match.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace vi2zezir::qtwindow {

// The artwork on a transparent background, the square centred in `size`.
QPixmap LogoPixmap(QSize size);

// The window icon: the artwork at 16, 32 and 48 pixels.
QIcon LogoIcon();

} // namespace vi2zezir::qtwindow
