// Key and close routing for template dialogs.
#include "platform/dialog/dialog_window.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace platform {

DialogWindow::DialogWindow(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

void DialogWindow::SetEnterHandler(std::function<void()> handler)
{
    m_onEnter = std::move(handler);
}

void DialogWindow::SetEscapeHandler(std::function<void()> handler)
{
    m_onEscape = std::move(handler);
}

void DialogWindow::SetCloseHandler(std::function<void()> handler)
{
    m_onClose = std::move(handler);
}

void DialogWindow::keyPressEvent(QKeyEvent* event)
{
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const auto key = event->key();
    if (modifiers == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter) && m_onEnter) {
        event->accept();
        m_onEnter();
        return;
    }
    if (modifiers == Qt::NoModifier && key == Qt::Key_Escape && m_onEscape) {
        event->accept();
        m_onEscape();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DialogWindow::closeEvent(QCloseEvent* event)
{
    // The handler decides; ending the dialog goes through done(), which does
    // not come back here.
    event->ignore();
    if (m_onClose)
        m_onClose();
}

} // namespace platform
