// Which of the two record transfers a record belongs to, and what it is; for
// the board's loaders, their fault switches and the transcript.
#pragma once

namespace receiver {

enum class Transfer {
    Sfld,    // the SFLD going to the resident loader
    Flash,   // the firmware going to the SFLD
};

enum class RecordKind {
    Data,    // an address and data bytes
    End,     // closes a transfer
    Range,   // the erase range: record 0 of the flash transfer
};

} // namespace receiver
