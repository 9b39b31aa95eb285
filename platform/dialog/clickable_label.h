// A static control that can report clicks, for static text and bitmaps that
// the template marks as notifying.
#pragma once

#include <QLabel>

#include <functional>

namespace platform {

class ClickableLabel : public QLabel {
public:
    explicit ClickableLabel(QWidget* parent);

    // Without a handler the label is inert and lets clicks through to the dialog.
    void SetClickHandler(std::function<void()> handler);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void()> m_onClick;
};

} // namespace platform
