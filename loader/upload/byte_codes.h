// Single-byte codes of the receiver's loaders and the boot request; the one
// header the simulated board shares with the loader.
#pragma once

#include <cstdint>

namespace velmor {

inline constexpr uint8_t SYNC_CODE = 0x55;            // attention / record accepted / SFLD ready
inline constexpr uint8_t REC_WAIT_CODE = 0x77;        // waiting for a record
inline constexpr uint8_t BAD_CSUM = 0x81;
inline constexpr uint8_t BAD_LENGTH = 0x82;
inline constexpr uint8_t BAD_COMMAND = 0x83;
inline constexpr uint8_t ERASE_FAILED_CODE = 0x84;
inline constexpr uint8_t RECORD_TIMEOUT = 0x85;
inline constexpr uint8_t NO_REC_END = 0x88;
inline constexpr uint8_t SECTOR_ERASED_CODE = 0x8F;
inline constexpr uint8_t ERASE_CMD = 0x6A;
inline constexpr uint8_t BOOT_MODE_CMD = 0x07;
inline constexpr uint8_t VERSION_CMD = 0x90;
inline constexpr uint8_t TYPE_ID_CMD = 0x91;
inline constexpr uint8_t PFLD_VERSION_POLL = 0x44;    // 'D': loader poll, and the PFLD's answer
inline constexpr uint8_t PFLD_ASK_POLL = 0x45;        // 'E': loader poll after the PFLD answered 'D'

// Sent in command mode at the receiver's rate; the receiver then runs its PFLD at 19200.
inline constexpr uint8_t BOOT_REQUEST[7] = {0x24, 0x24, 0x00, 0x07, 0x0A, 0x00, 0x0D};

} // namespace velmor
