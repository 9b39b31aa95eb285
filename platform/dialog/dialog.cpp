// Template dialogs on Qt widgets. Controls sit at absolute pixel positions in a
// client area; the optional caption OK button gets a strip of its own above
// it, so the client area keeps the template's coordinates.
#include "platform/dialog/dialog.h"

#include "platform/dialog/clickable_label.h"
#include "platform/dialog/control_factory.h"
#include "platform/dialog/data_exchange.h"
#include "platform/dialog/dialog_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace platform {
namespace {

constexpr int kCaptionBarHeight = 24;   // px: room for the caption OK button
constexpr int kCaptionOkWidth = 40;     // px
constexpr int kCaptionOkMargin = 2;     // px around the caption OK button

constexpr char kSansFamily[] = "Sans Serif";   // what fontconfig resolves to the default sans font

QFont TemplateFont(const DialogTemplate& dialogTemplate)
{
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    // Resources name the system's own dialog font with these.
    const std::wstring& name = dialogTemplate.fontName;
    const bool systemFont = name.empty() || name == L"System" || name == L"MS Sans Serif";
    font.setFamily(systemFont ? QString::fromLatin1(kSansFamily) : QString::fromStdWString(name));
    if (dialogTemplate.fontPointSize > 0)
        font.setPointSize(dialogTemplate.fontPointSize);
    return font;
}

Qt::WindowFlags WindowFlags(uint32_t style)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (style & DialogStyle::Caption)
        flags |= Qt::WindowTitleHint;
    if (style & DialogStyle::SysMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    return flags;
}

// Where `text` goes in a list kept in ascending order: after its equals, so
// entries with the same text keep the order they came in. Case is ignored, as
// the native sorted lists ignore it.
template <class TextAt> int SortedPosition(int count, TextAt textAt, const QString& text)
{
    int low = 0;
    int high = count;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (QString::compare(textAt(mid), text, Qt::CaseInsensitive) <= 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// Lays out pending list rows now: a repaint without the event loop would
// otherwise paint the rows as they were before the last additions.
void LayOutPendingRows(QListWidget* list)
{
    if (list->count() > 0)
        list->visualItemRect(list->item(list->count() - 1));
}

class QuietScope {
public:
    explicit QuietScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~QuietScope() { --m_depth; }
    QuietScope(const QuietScope&) = delete;
    QuietScope& operator=(const QuietScope&) = delete;

private:
    int& m_depth;
};

} // namespace

Dialog::Dialog(const DialogTemplate& dialogTemplate, Dialog* owner) : m_templateId(dialogTemplate.id)
{
    m_window = new DialogWindow(owner ? owner->Widget() : nullptr, WindowFlags(dialogTemplate.style));
    m_window->setWindowTitle(QString::fromStdWString(dialogTemplate.caption));
    m_window->setFont(TemplateFont(dialogTemplate));

    const QSize clientSize(dialogTemplate.width * kPixelsPerDluX, dialogTemplate.height * kPixelsPerDluY);
    int top = 0;
    if (dialogTemplate.style & DialogStyle::CaptionOk) {
        top = kCaptionBarHeight;
        auto* ok = new QToolButton(m_window);
        ok->setObjectName(QStringLiteral("captionOk"));
        ok->setText(QStringLiteral("OK"));
        ok->setFocusPolicy(Qt::NoFocus);   // a caption button never takes the focus
        ok->setGeometry(clientSize.width() - kCaptionOkWidth - kCaptionOkMargin, kCaptionOkMargin, kCaptionOkWidth,
                        kCaptionBarHeight - 2 * kCaptionOkMargin);
        QObject::connect(ok, &QToolButton::clicked, m_window, [this] { SendCommand(kIdOk); });
    }
    m_client = new QWidget(m_window);
    m_client->setGeometry(QRect(QPoint(0, top), clientSize));
    m_window->setFixedSize(clientSize.width(), clientSize.height() + top);

    for (const ControlTemplate& control : dialogTemplate.controls)
        m_controls.push_back({control.id, control.kind, control.flags, CreateControl(control, m_client)});
    for (const Control& control : m_controls)
        Connect(control);

    m_window->SetEnterHandler([this] { HandleEnter(); });
    m_window->SetEscapeHandler([this] { SendCommand(kIdCancel); });
    m_window->SetCloseHandler([this] { OnClose(); });
}

Dialog::~Dialog()
{
    // An owner's window deletes its children first; the pointer knows.
    delete m_window.data();
}

QDialog* Dialog::Widget() const
{
    return m_window;
}

const Dialog::Control* Dialog::Find(int id) const
{
    for (const Control& control : m_controls) {
        if (control.id == id)
            return &control;
    }
    return nullptr;
}

QWidget* Dialog::Item(int id) const
{
    const Control* control = Find(id);
    return control ? control->widget : nullptr;
}

template <class W> W* Dialog::ItemAs(int id) const
{
    return qobject_cast<W*>(Item(id));
}

void Dialog::Connect(const Control& control)
{
    const int id = control.id;
    if (auto* button = qobject_cast<QAbstractButton*>(control.widget)) {
        QObject::connect(button, &QAbstractButton::clicked, m_window, [this, id] { SendCommand(id); });
    } else if (auto* list = qobject_cast<QListWidget*>(control.widget)) {
        QObject::connect(list, &QListWidget::currentRowChanged, m_window, [this, id] {
            if (m_quiet == 0)
                Notify(m_selectionHandlers, id);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(control.widget)) {
        // activated, unlike currentIndexChanged, comes from the user only.
        QObject::connect(combo, &QComboBox::activated, m_window, [this, id] { Notify(m_selectionHandlers, id); });
    } else if (auto* label = dynamic_cast<ClickableLabel*>(control.widget)) {
        if (control.flags & ControlFlag::Notify)
            label->SetClickHandler([this, id] { SendCommand(id); });
    }
}

void Dialog::Notify(const std::map<int, Handler>& handlers, int id)
{
    const auto it = handlers.find(id);
    if (it == handlers.end() || !it->second)
        return;
    const Handler handler = it->second;   // it may rebind itself
    handler();
}

int Dialog::DoModal()
{
    OnInitDialog();
    return m_window->exec();
}

void Dialog::EndDialog(int code)
{
    m_window->done(code);
}

void Dialog::SendCommand(int id)
{
    // A disabled control's command never runs, whatever sends it: a default
    // command id, the caption OK, a key.
    if (const Control* control = Find(id); control && !control->widget->isEnabled())
        return;
    if (id == kIdOk)
        OnOk();
    else if (id == kIdCancel)
        OnCancel();
    else
        Notify(m_clickHandlers, id);
}

void Dialog::HandleEnter()
{
    // As in native dialogs: the push button with the focus, else the default
    // push button (nothing if it is disabled), else OK.
    if (auto* focused = qobject_cast<QPushButton*>(m_window->focusWidget())) {
        focused->click();
        return;
    }
    for (const Control& control : m_controls) {
        if (control.kind == ControlKind::DefaultPushButton) {
            static_cast<QPushButton*>(control.widget)->click();
            return;
        }
    }
    SendCommand(kIdOk);
}

void Dialog::SetItemText(int id, const std::wstring& text)
{
    const Control* control = Find(id);
    if (!control || control->kind == ControlKind::StaticBitmap)
        return;
    const QString qtext = QString::fromStdWString(text);
    QWidget* widget = control->widget;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(qtext);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(qtext);
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(qtext);
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        QString plain = qtext;
        edit->setPlainText(plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->isEditable())
            combo->setEditText(qtext);
    }
}

std::wstring Dialog::ItemText(int id) const
{
    const Control* control = Find(id);
    if (!control || control->kind == ControlKind::StaticBitmap)
        return {};
    QWidget* widget = control->widget;
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text().toStdWString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text().toStdWString();
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        return line->text().toStdWString();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        return edit->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdWString();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText().toStdWString();
    return {};
}

void Dialog::EnableItem(int id, bool enable)
{
    if (QWidget* widget = Item(id))
        widget->setEnabled(enable);
}

bool Dialog::IsItemEnabled(int id) const
{
    const QWidget* widget = Item(id);
    return widget && widget->isEnabled();
}

void Dialog::ShowItem(int id, bool show)
{
    if (QWidget* widget = Item(id))
        widget->setVisible(show);
}

bool Dialog::IsItemVisible(int id) const
{
    const QWidget* widget = Item(id);
    return widget && widget->isVisibleTo(m_window);
}

void Dialog::SetFocusTo(int id)
{
    if (QWidget* widget = Item(id))
        widget->setFocus(Qt::OtherFocusReason);
}

void Dialog::ClickItem(int id)
{
    const Control* control = Find(id);
    if (!control)
        return;
    if (auto* button = qobject_cast<QAbstractButton*>(control->widget))
        button->click();   // does nothing when disabled
    else if ((control->flags & ControlFlag::Notify) && control->widget->isEnabled())
        SendCommand(id);
}

void Dialog::RepaintItem(int id)
{
    QWidget* widget = Item(id);
    if (!widget)
        return;
    if (auto* list = qobject_cast<QListWidget*>(widget))
        LayOutPendingRows(list);
    widget->repaint();
}

void Dialog::Repaint()
{
    for (const Control& control : m_controls) {
        if (auto* list = qobject_cast<QListWidget*>(control.widget))
            LayOutPendingRows(list);
    }
    m_window->repaint();
}

void Dialog::CenterOnScreen()
{
    // A window that exists knows its frame (on X11 only once it is mapped).
    m_window->winId();
    const QScreen* screen = m_window->screen();
    if (!screen)
        return;
    QRect frame = m_window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    m_window->move(frame.topLeft());
}

void Dialog::SetIcon(const QIcon& icon)
{
    m_window->setWindowIcon(icon);
}

void Dialog::SetItemBitmap(int id, const QPixmap& bitmap)
{
    if (auto* label = ItemAs<QLabel>(id))
        label->setPixmap(bitmap);
}

int Dialog::ListAddString(int id, const std::wstring& text)
{
    auto* list = ItemAs<QListWidget>(id);
    if (!list)
        return -1;
    const QString qtext = QString::fromStdWString(text);
    int row = list->count();
    if (Find(id)->flags & ControlFlag::Sorted)
        row = SortedPosition(list->count(), [list](int i) { return list->item(i)->text(); }, qtext);
    QuietScope quiet(m_quiet);
    list->insertItem(row, qtext);
    return row;
}

int Dialog::ListCount(int id) const
{
    const auto* list = ItemAs<QListWidget>(id);
    return list ? list->count() : -1;
}

std::wstring Dialog::ListText(int id, int index) const
{
    const auto* list = ItemAs<QListWidget>(id);
    const QListWidgetItem* item = list ? list->item(index) : nullptr;
    return item ? item->text().toStdWString() : std::wstring();
}

bool Dialog::ListSetCurSel(int id, int index)
{
    auto* list = ItemAs<QListWidget>(id);
    if (!list || index < -1 || index >= list->count())
        return false;
    QuietScope quiet(m_quiet);
    list->setCurrentRow(index);
    if (index < 0)
        list->clearSelection();
    else
        list->scrollToItem(list->item(index));
    return true;
}

int Dialog::ListCurSel(int id) const
{
    const auto* list = ItemAs<QListWidget>(id);
    return list ? list->currentRow() : -1;
}

bool Dialog::ListDeleteString(int id, int index)
{
    auto* list = ItemAs<QListWidget>(id);
    if (!list || index < 0 || index >= list->count())
        return false;
    QuietScope quiet(m_quiet);
    delete list->takeItem(index);
    return true;
}

void Dialog::ListReset(int id)
{
    if (auto* list = ItemAs<QListWidget>(id)) {
        QuietScope quiet(m_quiet);
        list->clear();
    }
}

int Dialog::ComboAddString(int id, const std::wstring& text)
{
    auto* combo = ItemAs<QComboBox>(id);
    if (!combo)
        return -1;
    const QString qtext = QString::fromStdWString(text);
    int row = combo->count();
    if (Find(id)->flags & ControlFlag::Sorted)
        row = SortedPosition(combo->count(), [combo](int i) { return combo->itemText(i); }, qtext);
    const bool hadSelection = combo->currentIndex() >= 0;
    const QString editText = combo->currentText();
    combo->insertItem(row, qtext);
    // Qt selects the first entry put into an empty combo; the native combo
    // selects nothing and leaves its edit text alone.
    if (!hadSelection)
        combo->setCurrentIndex(-1);
    if (combo->isEditable())
        combo->setEditText(editText);
    return row;
}

void Dialog::ComboReset(int id)
{
    if (auto* combo = ItemAs<QComboBox>(id)) {
        combo->clear();
        combo->clearEditText();
    }
}

int Dialog::ComboCount(int id) const
{
    const auto* combo = ItemAs<QComboBox>(id);
    return combo ? combo->count() : -1;
}

std::wstring Dialog::ComboText(int id, int index) const
{
    const auto* combo = ItemAs<QComboBox>(id);
    if (!combo || index < 0 || index >= combo->count())
        return {};
    return combo->itemText(index).toStdWString();
}

bool Dialog::ComboSetCurSel(int id, int index)
{
    auto* combo = ItemAs<QComboBox>(id);
    if (!combo || index < -1 || index >= combo->count())
        return false;
    combo->setCurrentIndex(index);
    return true;
}

int Dialog::ComboCurSel(int id) const
{
    const auto* combo = ItemAs<QComboBox>(id);
    return combo ? combo->currentIndex() : -1;
}

bool Dialog::IsChecked(int id) const
{
    const auto* box = ItemAs<QCheckBox>(id);
    return box && box->isChecked();
}

void Dialog::SetCheck(int id, bool checked)
{
    if (auto* box = ItemAs<QCheckBox>(id))
        box->setChecked(checked);
}

void Dialog::BindClicked(int id, Handler handler)
{
    m_clickHandlers[id] = std::move(handler);
}

void Dialog::BindSelectionChanged(int id, Handler handler)
{
    m_selectionHandlers[id] = std::move(handler);
}

void Dialog::BindOk(Handler handler)
{
    m_okHandler = std::move(handler);
}

void Dialog::BindCancel(Handler handler)
{
    m_cancelHandler = std::move(handler);
}

void Dialog::BindCloseRequest(CloseHandler handler)
{
    m_closeHandler = std::move(handler);
}

void Dialog::UpdateData(bool save)
{
    DataExchange exchange(*this, save);
    DoDataExchange(exchange);
}

void Dialog::OnInitDialog()
{
    UpdateData(false);
}

void Dialog::OnOk()
{
    if (m_okHandler) {
        const Handler handler = m_okHandler;
        handler();
        return;
    }
    UpdateData(true);
    EndDialog(kIdOk);
}

void Dialog::OnCancel()
{
    if (m_cancelHandler) {
        const Handler handler = m_cancelHandler;
        handler();
        return;
    }
    EndDialog(kIdCancel);
}

void Dialog::OnClose()
{
    if (!m_closeHandler) {
        SendCommand(kIdCancel);
        return;
    }
    const CloseHandler handler = m_closeHandler;
    if (handler())
        EndDialog(kIdCancel);
}

void Dialog::DoDataExchange(DataExchange&) {}

} // namespace platform
