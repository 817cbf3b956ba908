#include "Clipboard/HistoryWriter.h"

#include "Platform/AtomicFile.h"

namespace brevalto {

namespace {

// Names up to this many bytes before their extension are shown whole.
constexpr std::size_t kWholeStem = 16;
constexpr std::size_t kShownStemCharacters = 5;

std::string shortName(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const std::string stem = path.stem().string();
    if (stem.size() <= kWholeStem) return name;
    // Cut after whole UTF-8 characters: continuation bytes are 10xxxxxx.
    std::size_t end = 0;
    for (std::size_t characters = 0; end < stem.size() && characters < kShownStemCharacters; ++characters)
        do ++end;
        while (end < stem.size() && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80);
    return stem.substr(0, end) + "\u2026" + path.extension().string();
}

}  // namespace

std::string describeFailure(const std::exception& error) {
    const auto* file = dynamic_cast<const FileError*>(&error);
    if (!file || file->reason().empty()) return error.what();
    return file->reason() + " (" + shortName(file->path()) + ")";
}

HistoryWriter::HistoryWriter(std::filesystem::path index, Written written)
    : index_(std::move(index)), written_(std::move(written)), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryWriter::submit(std::uint64_t sequence, Snapshot clips) {
    {
        std::lock_guard lock(mutex_);
        waiting_.emplace(sequence, std::move(clips));  // an older snapshot still waiting is dropped
    }
    wake_.notify_one();
}

void HistoryWriter::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !waiting_ && !writing_; });
}

void HistoryWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return waiting_ || stopping_; });
        if (!waiting_) return;  // stopping with nothing left to write
        const std::uint64_t sequence = waiting_->first;
        Snapshot clips = std::move(waiting_->second);
        waiting_.reset();
        writing_ = true;
        lock.unlock();

        std::optional<std::string> error;
        try {
            AtomicFile::write(index_, [&](const AtomicFile::Sink& sink) { encodeClips(*clips, sink); });
        } catch (const std::exception& e) {
            error = describeFailure(e);
        }
        clips.reset();
        written_(sequence, std::move(error));

        lock.lock();
        writing_ = false;
        if (!waiting_) idle_.notify_all();
    }
}

}  // namespace brevalto
