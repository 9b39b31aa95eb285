// Start-up check of the store's partition.
#include "formatter/store_format_app.h"

#include "formatter/notices.h"
#include "formatter/store_format_dialog.h"
#include "formatter/user_store.h"

namespace quillon {

using platform::kInvalidStorageHandle;
using platform::StorageHandle;

StoreFormatApp::StoreFormatApp(platform::Storage& storage, MessageBinder binder)
    : m_storage(storage), m_binder(std::move(binder))
{
}

bool StoreFormatApp::InitInstance()
{
    const MessageOwner unowned(m_binder, nullptr);
    StoreFormatDialog dialog(m_storage, m_binder);
    const StorageHandle store = m_storage.OpenStore(StoreName());
    if (store == kInvalidStorageHandle) {
        Show(kStoreNotOpened);
        return false;
    }
    platform::PartInfo info;
    const StorageHandle search = m_storage.FindFirstPartition(store, info);
    const std::u16string partitionName = FoundPartitionName(search, info);
    if (search != kInvalidStorageHandle)
        m_storage.FindClosePartition(search);

    const StorageHandle partition = m_storage.OpenPartition(store, partitionName);
    if (partition == kInvalidStorageHandle) {
        // A missing partition is made again, unasked, in the layout the wizard leaves.
        Show(kPartitionNotOpened);
        platform::StoreInfo storeInfo;
        if (m_storage.GetStoreInfo(store, storeInfo))
            m_storage.CreatePartition(store, partitionName, kStoreDefaultType, CreatableSectors(storeInfo));
        m_storage.CloseHandle(store);
        return false;
    }
    const bool known = m_storage.GetPartitionInfo(partition, info);
    if (known && info.type == kConvertedType)
        Show(kFinishedNoReboot);
    m_storage.CloseHandle(partition);
    // The wizard opens the store anew on Continue.
    m_storage.CloseHandle(store);
    if (known && info.type == kOldType)
        dialog.DoModal();
    return false;
}

} // namespace quillon
