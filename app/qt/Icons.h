// The pictures of the tool buttons and of the program, drawn here so that the editor needs
// no image files: 20 x 20 pictures, each in a normal and a greyed form.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pelfry {

enum class ToolPicture { Open, Save, SaveAs, Exit };

// The picture at 20 x 20; greyed for a disabled button.
QPixmap DrawToolPicture(ToolPicture picture, bool greyed);
// Both forms as one icon (normal and disabled modes).
QIcon ToolIcon(ToolPicture picture);
// The program's icon at `size` pixels.
QPixmap DrawAppPicture(int size);

} // namespace pelfry
