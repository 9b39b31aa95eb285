// The top-level window of a template dialog: hands Enter, Escape and the close
// box to the owning Dialog instead of QDialog's own accept and reject.
#pragma once

#include <QDialog>

#include <functional>

namespace platform {

class DialogWindow : public QDialog {
public:
    explicit DialogWindow(QWidget* parent, Qt::WindowFlags flags);

    void SetEnterHandler(std::function<void()> handler);
    void SetEscapeHandler(std::function<void()> handler);
    void SetCloseHandler(std::function<void()> handler);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> m_onEnter;
    std::function<void()> m_onEscape;
    std::function<void()> m_onClose;
};

} // namespace platform
