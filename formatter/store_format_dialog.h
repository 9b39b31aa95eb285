// The conversion wizard: says why the store must be formatted and, on Continue,
// dismounts and formats it, re-creates its partition over the whole store and reboots.
#pragma once

#include "formatter/message_owner.h"
#include "platform/dialog/dialog.h"
#include "platform/storage/storage.h"

#include <QIcon>

#include <string>

namespace quillon {

class StoreFormatDialog : public platform::Dialog {
public:
    StoreFormatDialog(platform::Storage& storage, MessageBinder binder);

    // Everything runs here, on the GUI thread; the dialog is repainted after
    // each change of the status text since no events are handled meanwhile.
    void OnContinue();

protected:
    void OnInitDialog() override;

private:
    // Dismount and format; a failure is reported and the partition is re-created all the same.
    void EmptyStore(platform::StorageHandle store, const std::u16string& partitionName);
    void ShowStatus(unsigned stringId);

    platform::Storage& m_storage;
    MessageBinder m_binder;
    QIcon m_icon;
};

} // namespace quillon
