#pragma once
// How an update ended: why it stopped, and what it achieved on the way, so that "written, but
// the data did not go back" is never told as a success.

#include <QString>
#include <cstdint>

// Why the update stopped; the number is the result code the log, the terminal's exit status
// and its JSON name.
enum class UpdateResult : int32_t {
    Updated = 0,
    Error = 1,          // an error was raised, or the saved data could not be taken
    NoDevice = 2,       // no tool reached the device at the start
    NotStarted = 3,     // a station ended before its turn came
    FtmFailed = 4,      // not back after leaving the boot loader
    FastbootFailed = 5, // the boot loader was not reached
    UsrFailed = 6,      // the user personality was refused, or the final restart not seen
    WriteFailed = 7,    // an image could not be written
    DataNotBack = 8,    // every image written, but the saved data did not read back from the device
    JournalFailed = 9,  // the journal could not be written before anything was: nothing was
};

struct UpdateOutcome {
    enum class Images { None, Some, All };
    enum class Data { Back, NotBack, NotNeeded };

    UpdateResult result = UpdateResult::Error;
    Images images = Images::None;
    Data data = Data::NotNeeded;
    bool versionRead = false;
    // False when a journal write failed once the device may have been written: the update
    // went on, and every copy stays in the store.
    bool journalKept = true;

    int32_t code() const { return static_cast<int32_t>(result); }
    // The device can be brought further by trying again (Retry, then Finish).
    bool retryable() const {
        switch (result) {
        case UpdateResult::NoDevice:
        case UpdateResult::NotStarted:
        case UpdateResult::FtmFailed:
        case UpdateResult::FastbootFailed:
        case UpdateResult::UsrFailed:
        case UpdateResult::DataNotBack:
        case UpdateResult::JournalFailed:
            return true;
        case UpdateResult::WriteFailed:
            // Half-written, whether or not its data went back: its journal stays for Retry.
            return images != Images::None || data == Data::NotBack;
        case UpdateResult::Updated:
        case UpdateResult::Error:
            return false;
        }
        return false;
    }
};

// As the terminal's JSON names them.
inline QString imagesName(UpdateOutcome::Images images) {
    switch (images) {
    case UpdateOutcome::Images::All:
        return QStringLiteral("all");
    case UpdateOutcome::Images::Some:
        return QStringLiteral("some");
    case UpdateOutcome::Images::None:
        break;
    }
    return QStringLiteral("none");
}

inline QString dataName(UpdateOutcome::Data data) {
    switch (data) {
    case UpdateOutcome::Data::Back:
        return QStringLiteral("back");
    case UpdateOutcome::Data::NotBack:
        return QStringLiteral("not back");
    case UpdateOutcome::Data::NotNeeded:
        break;
    }
    return QStringLiteral("not needed");
}
