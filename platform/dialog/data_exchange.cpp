// Text exchange through the dialog's own text operations, so every control
// kind converts the same way in both directions.
#include "platform/dialog/data_exchange.h"

#include "platform/dialog/dialog.h"

namespace platform {

void DataExchange::Text(int id, std::wstring& value)
{
    if (m_saving)
        value = m_dialog.ItemText(id);
    else
        m_dialog.SetItemText(id, value);
}

} // namespace platform
