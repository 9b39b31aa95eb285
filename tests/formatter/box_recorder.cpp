// The recording message-box handler.
#include "tests/formatter/box_recorder.h"

#include "platform/dialog/dialog.h"
#include "platform/text.h"

#include <QDialog>

#include <gtest/gtest.h>

namespace quillon::test {

BoxRecorder::BoxRecorder() : m_previous(platform::SetMessageBoxHandler(Handler(nullptr))) {}

BoxRecorder::~BoxRecorder()
{
    platform::SetMessageBoxHandler(std::move(m_previous));
}

platform::MessageBoxHandler BoxRecorder::Handler(QWidget* owner)
{
    return [this, owner](const platform::Message& message) {
        m_boxes.push_back({message, owner, std::chrono::steady_clock::now()});
        return platform::MessageAnswer::Ok;
    };
}

MessageBinder BoxRecorder::Binder()
{
    return [this](platform::Dialog* owner) {
        return platform::SetMessageBoxHandler(Handler(owner ? owner->Widget() : nullptr));
    };
}

void ExpectBoxes(const BoxRecorder& recorder, const std::vector<ExpectedBox>& expected)
{
    const auto& boxes = recorder.Boxes();
    std::string shown;
    for (const RecordedBox& box : boxes)
        shown += "\n  \"" + platform::Narrow(box.message.text) + "\"";
    ASSERT_EQ(boxes.size(), expected.size()) << "boxes shown:" << shown;
    for (size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i));
        EXPECT_EQ(boxes[i].message.text, expected[i].text);
        EXPECT_EQ(boxes[i].message.caption, expected[i].caption);
        EXPECT_EQ(boxes[i].owner, expected[i].owner);
        EXPECT_EQ(boxes[i].message.buttons, platform::MessageButtons::Ok);
        EXPECT_EQ(boxes[i].message.icon, platform::MessageIcon::Exclamation);
    }
}

} // namespace quillon::test
