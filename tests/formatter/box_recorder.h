// Answers the formatter's message boxes in place of real ones, through the
// message-box seam, and keeps them in order with the window each belonged to.
#pragma once

#include "formatter/message_owner.h"
#include "platform/message_box.h"

#include <chrono>
#include <string>
#include <vector>

class QWidget;

namespace quillon::test {

struct RecordedBox {
    platform::Message message;
    QWidget* owner = nullptr;   // the owning dialog's window; nullptr for none
    std::chrono::steady_clock::time_point at;
};

// What a test expects of one box: always an OK button and the exclamation icon.
struct ExpectedBox {
    std::wstring text;
    std::wstring caption;
    QWidget* owner = nullptr;
};

class BoxRecorder {
public:
    // Also stands in while nothing is bound, so a box shown outside any owner is recorded too.
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    MessageBinder Binder();
    const std::vector<RecordedBox>& Boxes() const { return m_boxes; }

private:
    platform::MessageBoxHandler Handler(QWidget* owner);

    std::vector<RecordedBox> m_boxes;
    platform::MessageBoxHandler m_previous;
};

// Texts, captions, owners and order, with the OK button and exclamation icon on each.
void ExpectBoxes(const BoxRecorder& recorder, const std::vector<ExpectedBox>& expected);

} // namespace quillon::test
