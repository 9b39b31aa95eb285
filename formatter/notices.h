// Every outcome the formatter reports, each in a box with an OK button and the
// exclamation icon.
#pragma once

namespace quillon {

struct Notice {
    const wchar_t* text;
    const wchar_t* caption;
};

inline constexpr Notice kStoreNotOpened {L"Can't open USER store.", L"Store information"};
inline constexpr Notice kPartitionNotOpened {L"Can't open USER partition.", L"Partition information"};
inline constexpr Notice kNoPartitionInfo {L"Can't get USER partition information.", L"Partition information"};
inline constexpr Notice kDismountFailed {L"Error unmounting store.", L"Unmount store"};
inline constexpr Notice kFormatFailed {L"Format error.", L"Format store"};
inline constexpr Notice kPartitionNotCreated {L"Can't create USER partition.", L"Partition information"};
inline constexpr Notice kFinishedRebooting {L"Wizard finished successfully. Rebooting.", L"Quillon"};
inline constexpr Notice kFinishedNoReboot {L"Wizard finished successfully. No reboot required.", L"Quillon"};

// Returns once the user has answered; the box's owner is whatever MessageOwner bound.
void Show(const Notice& notice);

} // namespace quillon
