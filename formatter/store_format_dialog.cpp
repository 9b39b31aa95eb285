// The wizard's handlers.
#include "formatter/store_format_dialog.h"

#include "formatter/notices.h"
#include "formatter/quillon_resources.h"
#include "formatter/user_store.h"

#include <chrono>
#include <thread>

namespace quillon {
namespace {

// Lets the storage manager finish with the new partition before the machine goes down.
constexpr std::chrono::milliseconds kRebootDelay {500};

} // namespace

using platform::kInvalidStorageHandle;
using platform::StorageHandle;

StoreFormatDialog::StoreFormatDialog(platform::Storage& storage, MessageBinder binder)
    : platform::Dialog(WizardTemplate()), m_storage(storage), m_binder(std::move(binder)), m_icon(LoadIcon(kIconId))
{
    BindClicked(kContinueId, [this] { OnContinue(); });
    BindClicked(kCancelId, [this] { OnCancel(); });
}

void StoreFormatDialog::OnInitDialog()
{
    platform::Dialog::OnInitDialog();
    SetItemText(kStatusId, LoadString(kWizardText));
    SetIcon(m_icon);
    CenterOnScreen();
}

void StoreFormatDialog::ShowStatus(unsigned stringId)
{
    SetItemText(kStatusId, LoadString(stringId));
    Repaint();
}

void StoreFormatDialog::OnContinue()
{
    const MessageOwner owned(m_binder, this);
    const std::wstring storeName = StoreName();
    StorageHandle store = m_storage.OpenStore(storeName);
    if (store == kInvalidStorageHandle) {
        Show(kStoreNotOpened);
        return;
    }
    platform::PartInfo found;
    const StorageHandle search = m_storage.FindFirstPartition(store, found);
    const std::u16string partitionName = FoundPartitionName(search, found);
    if (search != kInvalidStorageHandle)
        m_storage.FindClosePartition(search);

    EmptyStore(store, partitionName);
    m_storage.CloseHandle(store);
    ShowStatus(kCreatingText);

    store = m_storage.OpenStore(storeName);
    if (store == kInvalidStorageHandle)
        return;
    platform::StoreInfo storeInfo;
    if (!m_storage.GetStoreInfo(store, storeInfo)) {
        m_storage.CloseHandle(store);
        return;
    }
    if (m_storage.CreatePartition(store, partitionName, kStoreDefaultType, CreatableSectors(storeInfo))) {
        Show(kFinishedRebooting);
        std::this_thread::sleep_for(kRebootDelay);
        m_storage.KernelIoControl(platform::kRebootRequest);
    } else {
        Show(kPartitionNotCreated);
    }
    m_storage.CloseHandle(store);
}

void StoreFormatDialog::EmptyStore(StorageHandle store, const std::u16string& partitionName)
{
    const StorageHandle partition = m_storage.OpenPartition(store, partitionName);
    if (partition == kInvalidStorageHandle) {
        Show(kPartitionNotOpened);
        return;
    }
    platform::PartInfo info;
    const bool known = m_storage.GetPartitionInfo(partition, info);
    m_storage.CloseHandle(partition);
    if (!known) {
        Show(kNoPartitionInfo);
        return;
    }

    // From here on the store is being changed: no way back through the buttons.
    SetItemText(kStatusId, LoadString(kUnmountingText));
    EnableItem(kCancelId, false);
    EnableItem(kContinueId, false);
    Repaint();
    if ((info.attributes & platform::kPartitionMounted) && !m_storage.DismountStore(store)) {
        Show(kDismountFailed);
        return;
    }
    ShowStatus(kFormattingText);
    if (!m_storage.FormatStore(store))
        Show(kFormatFailed);
}

} // namespace quillon
