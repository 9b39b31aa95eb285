// Builds the widget for one template control, placed where the template puts
// it, with the flags that the widget itself can carry.
#pragma once

#include "platform/dialog/dialog_template.h"

#include <QRect>

class QWidget;

namespace platform {

// The control's rectangle in pixels, relative to the dialog's client area.
QRect PixelRect(const ControlTemplate& control);

// The new widget is a child of `parent`; clicks and selection changes are
// connected by the caller.
QWidget* CreateControl(const ControlTemplate& control, QWidget* parent);

} // namespace platform
