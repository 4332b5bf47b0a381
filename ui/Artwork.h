#pragma once
// The program's pictures, painted from these sources at run time: the title banner, the
// logos, the side images, the About picture and the frames of the file-copy animation.
#include <QPixmap>
#include <QSize>

namespace ui::artwork {

inline constexpr int kCopyAnimationFrames = 34;

QPixmap Banner(QSize size);        // the title banner across a window's top
QPixmap Logo(int side);            // the square program logo
QPixmap SideImage(int side);       // the small picture beside a message
QPixmap AboutPicture(QSize size);  // the About window's picture
// Frame 1 to 34 of the file-copy animation: a sheet flies from one folder to the other.
QPixmap CopyAnimationFrame(int frame, QSize size);

}  // namespace ui::artwork
