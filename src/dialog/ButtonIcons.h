#pragma once

// The small pictures of the dialog's three main buttons, drawn at run time
// (no image files to ship).

#include <QIcon>

namespace vark {

enum class ButtonPicture { OpenShape, Exit, Compute };

/// The picture for a button; needs a QGuiApplication.
QIcon MakeButtonIcon(ButtonPicture picture);

}  // namespace vark
