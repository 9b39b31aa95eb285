// The engine's message boxes as real Qt boxes: shown on the GUI thread, owned
// by a dialog, and bound into the engine's message-box seam.
#pragma once

#include "platform/message_box.h"

namespace platform {

class Dialog;
class GuiCaller;

// GUI thread only. Modal to `owner` when there is one.
MessageAnswer ShowMessageBox(Dialog* owner, const Message& message);

// Makes ShowMessage show real boxes. From a worker the box is shown through
// `caller` and the worker waits for the answer; once the caller's gate is shut
// the answer is the unbound one (OK, or No to a question). `caller` must
// outlive the binding: put the returned handler back before it goes away.
MessageBoxHandler BindMessageBoxes(GuiCaller& caller, Dialog* owner);

} // namespace platform
