#pragma once

#include "ClipCore/Clip.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brevalto {

// A failed write as the panel's one status line shows it after its "Could not ..." prefix: the
// system's reason and the file's name, a long name cut to its first five characters, an
// ellipsis and its extension ("No space left on device (b3755….png)"); any other failure's
// own message.
std::string describeFailure(const std::exception& error);

// Writes the history index on a thread of its own. Each submitted list is an immutable snapshot
// with a rising sequence number; the thread writes the newest one atomically and skips older
// ones still waiting, so a burst of changes costs one write. Every finished write is reported
// through `written` on the writer thread, with the sequence written and the error, if any, as
// describeFailure gives it.
class HistoryWriter {
public:
    using Snapshot = std::shared_ptr<const std::vector<Clip>>;
    using Written = std::function<void(std::uint64_t sequence, std::optional<std::string> error)>;

    HistoryWriter(std::filesystem::path index, Written written);
    // Writes what is still waiting, then stops.
    ~HistoryWriter();

    void submit(std::uint64_t sequence, Snapshot clips);
    // Blocks until every submitted snapshot has been written or skipped for a newer one.
    void waitUntilIdle();

private:
    void run();

    std::filesystem::path index_;
    Written written_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::optional<std::pair<std::uint64_t, Snapshot>> waiting_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: starts after the fields above exist
};

}  // namespace brevalto
