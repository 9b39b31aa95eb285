// One widget kind per control kind, sized from the template without layouts,
// so what the template says is what is on screen.
#include "platform/dialog/control_factory.h"

#include "platform/dialog/clickable_label.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace platform {
namespace {

bool Has(const ControlTemplate& control, uint32_t flag)
{
    return (control.flags & flag) != 0;
}

Qt::ScrollBarPolicy ScrollPolicy(bool wanted)
{
    return wanted ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
}

QWidget* CreateButton(const ControlTemplate& control, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromStdWString(control.text), parent);
    // Enter is routed by the dialog; auto-default would let whichever button
    // has the focus take it over.
    button->setAutoDefault(false);
    button->setDefault(control.kind == ControlKind::DefaultPushButton);
    return button;
}

QWidget* CreateCombo(const ControlTemplate& control, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    if (control.kind == ControlKind::DropDownCombo) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);   // typed text is not an entry
        combo->setCompleter(nullptr);
    }
    // The template height covers the closed combo and its dropped list.
    const QRect rect = PixelRect(control);
    const int closedHeight = combo->sizeHint().height();
    combo->setGeometry(rect.x(), rect.y(), rect.width(), closedHeight);
    const int rowHeight = std::max(1, combo->view()->fontMetrics().height());
    combo->setMaxVisibleItems(std::max(1, (rect.height() - closedHeight) / rowHeight));
    return combo;
}

QWidget* CreateEdit(const ControlTemplate& control, QWidget* parent)
{
    if (!Has(control, ControlFlag::MultiLine)) {
        auto* edit = new QLineEdit(QString::fromStdWString(control.text), parent);
        edit->setFrame(Has(control, ControlFlag::Border));
        edit->setReadOnly(Has(control, ControlFlag::ReadOnly));
        return edit;
    }
    auto* edit = new QPlainTextEdit(parent);
    edit->setPlainText(QString::fromStdWString(control.text));
    edit->setReadOnly(Has(control, ControlFlag::ReadOnly));
    if (!Has(control, ControlFlag::Border))
        edit->setFrameShape(QFrame::NoFrame);
    edit->setLineWrapMode(Has(control, ControlFlag::AutoHScroll) ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    edit->setVerticalScrollBarPolicy(ScrollPolicy(Has(control, ControlFlag::VScroll)));
    edit->setHorizontalScrollBarPolicy(ScrollPolicy(Has(control, ControlFlag::HScroll)));
    return edit;
}

QWidget* CreateListBox(const ControlTemplate& control, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);   // keeps a long log pane cheap to lay out
    if (!Has(control, ControlFlag::Border))
        list->setFrameShape(QFrame::NoFrame);
    list->setVerticalScrollBarPolicy(ScrollPolicy(Has(control, ControlFlag::VScroll)));
    list->setHorizontalScrollBarPolicy(ScrollPolicy(Has(control, ControlFlag::HScroll)));
    return list;
}

QWidget* CreateStatic(const ControlTemplate& control, QWidget* parent)
{
    auto* label = new ClickableLabel(parent);
    if (Has(control, ControlFlag::Border))
        label->setFrameShape(QFrame::Box);
    if (control.kind == ControlKind::StaticText) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setText(QString::fromStdWString(control.text));
    } else {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    return label;
}

} // namespace

QRect PixelRect(const ControlTemplate& control)
{
    return QRect(control.x * kPixelsPerDluX, control.y * kPixelsPerDluY, control.width * kPixelsPerDluX,
                 control.height * kPixelsPerDluY);
}

QWidget* CreateControl(const ControlTemplate& control, QWidget* parent)
{
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
        widget = CreateButton(control, parent);
        break;
    case ControlKind::AutoCheckBox:
        widget = new QCheckBox(QString::fromStdWString(control.text), parent);
        break;
    case ControlKind::DropDownList:
    case ControlKind::DropDownCombo:
        widget = CreateCombo(control, parent);
        break;
    case ControlKind::Edit:
        widget = CreateEdit(control, parent);
        break;
    case ControlKind::ListBox:
        widget = CreateListBox(control, parent);
        break;
    case ControlKind::StaticText:
    case ControlKind::StaticBitmap:
        widget = CreateStatic(control, parent);
        break;
    }
    if (!qobject_cast<QComboBox*>(widget))
        widget->setGeometry(PixelRect(control));
    widget->setEnabled(!Has(control, ControlFlag::Disabled));
    // Hidden explicitly, so showing the dialog does not show it.
    widget->setVisible(!Has(control, ControlFlag::Hidden));
    return widget;
}

} // namespace platform
