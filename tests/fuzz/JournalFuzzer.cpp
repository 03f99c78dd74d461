// An update journal read from disk: refused, or a journal that writes and reads back the same.

#include "FuzzInput.h"
#include "bridge/UpdateJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const JournalReading reading = parseJournal(fuzzing::bytes(data, size));
    fuzzing::require(reading.journal.has_value() == reading.error.isEmpty());
    if (reading.journal) {
        const JournalReading again = parseJournal(reading.journal->toJson());
        fuzzing::require(again.journal == reading.journal);
    }
    return 0;
}
