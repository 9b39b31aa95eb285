// Click detection on a label: press and release of the left button inside it.
#include "platform/dialog/clickable_label.h"

#include <QMouseEvent>

namespace platform {

ClickableLabel::ClickableLabel(QWidget* parent) : QLabel(parent) {}

void ClickableLabel::SetClickHandler(std::function<void()> handler)
{
    m_onClick = std::move(handler);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    // Accepting the press is what routes the matching release here.
    if (m_onClick && event->button() == Qt::LeftButton)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_onClick && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        const auto handler = m_onClick;   // the handler may replace itself
        handler();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

} // namespace platform
