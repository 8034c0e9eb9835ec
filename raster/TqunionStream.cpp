// The tile stream of the union store: how a store is written into, and read
// from, another file (chiefly the layer file).
//
// Stream (little-endian): int32 tile size (480), int32 level count (4), one
// byte per tile with its level-0 Blank flag (0 or 1) in tile order, then for
// level 0, 1, 2, 3 and every tile whose byte is 0, in tile order, the tile's
// pixel block in the stream's compression mode (see Compress.h; a block is the
// tile's rows top to bottom, each padded to 4 bytes). The stream carries no
// size or depth: the reader creates the store with the writer's.
//
// Mode-2 blocks are compressed and inflated on every core the machine has:
// the calling thread does all the store's work (it is not thread-safe) and
// the file's, in stream order, while worker threads compress the blocks
// ahead of the writer or inflate them behind the reader. The bytes written
// are those of a single-threaded writer. $VELSERIN_STREAM_THREADS caps the
// number of threads (1: all work on the calling thread).

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "raster/Compress.h"
#include "raster/Tqunion.h"

namespace quillor {

namespace {

constexpr std::size_t kStreamHeaderBytes = 8;
constexpr std::size_t kLengthBytes = 4;
constexpr int kMaxStreamThreads = 8;

void PutInt32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetUint32(const std::uint8_t* in) {
    return std::uint32_t(in[0]) | (std::uint32_t(in[1]) << 8) | (std::uint32_t(in[2]) << 16) |
           (std::uint32_t(in[3]) << 24);
}

// The pixels of a resident tile, rows top to bottom in one block.
struct PixelBlock {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

PixelBlock PixelsOf(TQuillorBitmap* tile) {
    if (tile == nullptr)
        return {};
    imaging::BitmapHandle* handle = tile->GetHandle();
    if (handle == nullptr || !handle->pixels)
        return {};
    return {handle->pixels->Bits(), handle->pixels->SizeBytes()};
}

// The mode-2 form of a block, as WriteBlock writes it: the length and the
// zlib stream when that is shorter than the block, else the size and the
// block itself. `out` is reused from block to block.
bool EncodeBlock(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        return false;
    const uLong bound = compressBound(static_cast<uLong>(size));
    try {
        out.resize(kLengthBytes + std::max<std::size_t>(bound, size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    uLongf length = bound;
    const int result =
        size == 0 ? Z_BUF_ERROR
                  : compress(out.data() + kLengthBytes, &length, data, static_cast<uLong>(size));
    if (result != Z_OK || length >= size) {
        PutInt32(out.data(), static_cast<std::uint32_t>(size));
        if (size != 0)
            std::memcpy(out.data() + kLengthBytes, data, size);
        out.resize(kLengthBytes + size);
    } else {
        PutInt32(out.data(), static_cast<std::uint32_t>(length));
        out.resize(kLengthBytes + length);
    }
    return true;
}

// Reads one block of exactly `size` bytes into `target` in the given mode.
// Mode 2 takes at most `size` bytes of compressed input into `scratch`, so a
// length read from the file never sizes more than one tile.
bool ReadTileBlock(platform::File& file, std::uint8_t* target, std::size_t size, int mode,
                   std::vector<std::uint8_t>& scratch) {
    if (mode == kCompressRefused)
        return false;
    if (mode != kCompressZlib)
        return file.Read(target, size);
    std::uint8_t prefix[kLengthBytes];
    if (!file.Read(prefix, kLengthBytes))
        return false;
    const std::uint32_t stored = GetUint32(prefix);
    if (stored > size)
        return false;
    if (stored == size)
        return file.Read(target, size);
    try {
        if (scratch.size() < stored)
            scratch.resize(stored);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!file.Read(scratch.data(), stored))
        return false;
    uLongf inflated = static_cast<uLongf>(size);
    return uncompress(target, &inflated, scratch.data(), stored) == Z_OK && inflated == size;
}

int StreamThreads() {
    int threads = int(std::thread::hardware_concurrency());
    if (const char* cap = std::getenv("VELSERIN_STREAM_THREADS")) {
        const int value = std::atoi(cap);
        if (value > 0)
            threads = std::min(threads > 0 ? threads : value, value);
    }
    return std::clamp(threads, 1, kMaxStreamThreads);
}

// Keeps the progress object's sequence: one Step per tile in stream order,
// Finish only after a complete stream.
class StreamProgress {
  public:
    StreamProgress(Statusprogress* progress, int steps) : progress_(progress) {
        if (progress_)
            progress_->Start(double(steps - 1));
    }
    void Step(int position) {
        if (progress_)
            progress_->Step(double(position));
    }
    void Finish() {
        if (progress_)
            progress_->Finish();
    }

  private:
    Statusprogress* progress_;
};

// Compresses mode-2 blocks on worker threads and writes them in the order
// they were submitted. Only the submitting thread touches the file and the
// progress object; while it waits for the next block in order it compresses
// blocks itself.
class BlockPipeline {
  public:
    BlockPipeline(platform::File& file, StreamProgress& progress, int threads)
        : file_(file), progress_(progress), window_(std::size_t(std::max(threads, 1)) * 3) {
        for (int i = 1; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::exception&) {
                break;  // fewer helpers; the calling thread still compresses
            }
        }
    }

    ~BlockPipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        workAvailable_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // A buffer for the next block's raw pixels (recycled from written blocks).
    std::vector<std::uint8_t> TakeBuffer() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty())
            return {};
        std::vector<std::uint8_t> buffer = std::move(spare_.back());
        spare_.pop_back();
        return buffer;
    }

    // Queues one block whose tile has the progress position `step`; writes
    // finished blocks while too many are pending. False once a write failed.
    bool Submit(std::vector<std::uint8_t> raw, int step) {
        auto job = std::make_unique<Job>();
        job->raw = std::move(raw);
        job->firstStep = job->lastStep = step;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job->encoded = TakeEncodedLocked();
            todo_.push_back(job.get());
            pending_.push_back(std::move(job));
        }
        workAvailable_.notify_one();
        return Drain(window_);
    }

    // A tile without a block: its step follows the blocks before it.
    void Skip(int step) {
        if (pending_.empty())
            progress_.Step(step);
        else
            pending_.back()->lastStep = step;
    }

    // Writes every pending block. False when a write or a compression failed.
    bool Finish() { return Drain(1); }

  private:
    struct Job {
        std::vector<std::uint8_t> raw;
        std::vector<std::uint8_t> encoded;
        bool done = false;
        bool ok = false;
        int firstStep = 0;
        int lastStep = 0;
    };

    std::vector<std::uint8_t> TakeEncodedLocked() {
        if (spareEncoded_.empty())
            return {};
        std::vector<std::uint8_t> buffer = std::move(spareEncoded_.back());
        spareEncoded_.pop_back();
        return buffer;
    }

    static void Encode(Job& job) {
        job.ok = EncodeBlock(job.raw.data(), job.raw.size(), job.encoded);
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [this] { return stop_ || !todo_.empty(); });
            if (stop_)
                return;
            Job* job = todo_.front();
            todo_.pop_front();
            lock.unlock();
            Encode(*job);
            lock.lock();
            job->done = true;
            blockDone_.notify_all();
        }
    }

    // Writes blocks in order until fewer than `limit` are pending.
    bool Drain(std::size_t limit) {
        if (failed_)
            return false;
        std::unique_lock<std::mutex> lock(mutex_);
        while (pending_.size() >= limit && !pending_.empty()) {
            Job* front = pending_.front().get();
            if (front->done) {
                std::unique_ptr<Job> job = std::move(pending_.front());
                pending_.pop_front();
                lock.unlock();
                const bool written =
                    job->ok && file_.Write(job->encoded.data(), job->encoded.size());
                if (!written) {
                    failed_ = true;
                    return false;
                }
                for (int step = job->firstStep; step <= job->lastStep; ++step)
                    progress_.Step(step);
                lock.lock();
                spare_.push_back(std::move(job->raw));
                spareEncoded_.push_back(std::move(job->encoded));
            } else if (!todo_.empty()) {
                Job* job = todo_.front();
                todo_.pop_front();
                lock.unlock();
                Encode(*job);
                lock.lock();
                job->done = true;
            } else {
                blockDone_.wait(lock);
            }
        }
        return true;
    }

    platform::File& file_;
    StreamProgress& progress_;
    const std::size_t window_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable blockDone_;
    std::deque<std::unique_ptr<Job>> pending_;  // in stream order
    std::deque<Job*> todo_;                     // not yet taken by a thread
    std::vector<std::vector<std::uint8_t>> spare_;
    std::vector<std::vector<std::uint8_t>> spareEncoded_;
    bool stop_ = false;
    bool failed_ = false;
};

// Inflates mode-2 blocks on worker threads straight into their tiles while
// the calling thread reads the next blocks from the file; blocks are
// accepted in stream order. A tile whose block is in flight is marked in use,
// so that admitting other tiles never pages it out.
class InflatePipeline {
  public:
    struct Job {
        int tile = 0;
        int level = 0;
        PixelBlock target;
        std::vector<std::uint8_t> input;  // the zlib stream; empty for a raw block
        bool marked = false;              // in use because of this job
        bool done = false;
        bool ok = false;
        int firstStep = 0;
        int lastStep = 0;
    };
    using Handler = std::function<void(Job&)>;

    InflatePipeline(StreamProgress& progress, int threads, Handler accept, Handler reject)
        : progress_(progress),
          window_(std::size_t(std::max(threads, 1)) * 3),
          accept_(std::move(accept)),
          reject_(std::move(reject)) {
        for (int i = 1; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::exception&) {
                break;
            }
        }
    }

    ~InflatePipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        workAvailable_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    InflatePipeline(const InflatePipeline&) = delete;
    InflatePipeline& operator=(const InflatePipeline&) = delete;

    std::vector<std::uint8_t> TakeInput() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty())
            return {};
        std::vector<std::uint8_t> buffer = std::move(spare_.back());
        spare_.pop_back();
        return buffer;
    }

    // Queues a job (a raw block comes in done); accepts finished blocks while
    // too many are pending. False once a block failed: every pending block
    // has then been settled, those before the failure accepted, the others
    // rejected.
    bool Submit(std::unique_ptr<Job> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!job->done)
                todo_.push_back(job.get());
            pending_.push_back(std::move(job));
        }
        workAvailable_.notify_one();
        return Settle(window_);
    }

    void Skip(int step) {
        if (pending_.empty())
            progress_.Step(step);
        else
            pending_.back()->lastStep = step;
    }

    // Settles every pending block; false when one of them failed.
    bool Finish() { return Settle(1); }

  private:
    static void Inflate(Job& job) {
        uLongf inflated = static_cast<uLongf>(job.target.size);
        job.ok = uncompress(job.target.data, &inflated, job.input.data(),
                            static_cast<uLong>(job.input.size())) == Z_OK &&
                 inflated == job.target.size;
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [this] { return stop_ || !todo_.empty(); });
            if (stop_)
                return;
            Job* job = todo_.front();
            todo_.pop_front();
            lock.unlock();
            Inflate(*job);
            lock.lock();
            job->done = true;
            blockDone_.notify_all();
        }
    }

    bool Settle(std::size_t limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!pending_.empty() && (failed_ || pending_.size() >= limit)) {
            Job* front = pending_.front().get();
            if (front->done) {
                std::unique_ptr<Job> job = std::move(pending_.front());
                pending_.pop_front();
                lock.unlock();
                if (!job->ok)
                    failed_ = true;
                if (failed_) {
                    reject_(*job);
                } else {
                    accept_(*job);
                    for (int step = job->firstStep; step <= job->lastStep; ++step)
                        progress_.Step(step);
                }
                lock.lock();
                spare_.push_back(std::move(job->input));
            } else if (!todo_.empty()) {
                Job* job = todo_.front();
                todo_.pop_front();
                lock.unlock();
                Inflate(*job);
                lock.lock();
                job->done = true;
            } else {
                blockDone_.wait(lock);
            }
        }
        return !failed_;
    }

    StreamProgress& progress_;
    const std::size_t window_;
    Handler accept_;
    Handler reject_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable blockDone_;
    std::deque<std::unique_ptr<Job>> pending_;  // in stream order
    std::deque<Job*> todo_;
    std::vector<std::vector<std::uint8_t>> spare_;
    bool stop_ = false;
    bool failed_ = false;
};

}  // namespace

bool TUnionBitmap::WriteTiles(platform::File& file, int mode, Statusprogress* progress, bool flat) {
    if (!FCreated)
        return false;

    if (flat) {
        // The whole store as one block of full-width rows, each padded to 4
        // bytes with zero bits beyond the last pixel.
        const std::size_t stride = std::size_t(FStride);
        std::vector<std::uint8_t> block;
        try {
            block.assign(stride * std::size_t(std::max(FHeight, 0)), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (!block.empty()) {
            if (!BeginRowAccess())
                return false;
            const std::size_t rowBits = std::size_t(FWidth) * FBitsPerPixel;
            const std::size_t fullBytes = rowBits / 8;
            const unsigned partialBits = unsigned(rowBits % 8);
            for (int y = 0; y < FHeight; ++y) {
                const std::uint8_t* row = ReadRow(y);
                if (row == nullptr) {
                    EndRowAccess();
                    return false;
                }
                std::uint8_t* out = block.data() + std::size_t(y) * stride;
                std::memcpy(out, row, fullBytes);
                if (partialBits != 0)
                    out[fullBytes] = std::uint8_t(row[fullBytes] & (0xFF00u >> partialBits));
            }
            EndRowAccess();
        }
        return WriteBlock(file, block.data(), block.size(), mode);
    }

    const int tiles = TileCount();
    {
        std::vector<std::uint8_t> head(kStreamHeaderBytes + std::size_t(tiles));
        PutInt32(head.data(), std::uint32_t(FTileSize));
        PutInt32(head.data() + 4, std::uint32_t(FLevelCount));
        for (int i = 0; i < tiles; ++i)
            head[kStreamHeaderBytes + std::size_t(i)] = Status(i, 0).Blank ? 1 : 0;
        if (!file.Write(head.data(), head.size()))
            return false;
    }

    StreamProgress steps(progress, FLevelCount * tiles);

    // Makes level `level` of a non-blank tile resident and current, and
    // returns its pixels; valid until the next tile is made resident.
    auto fetch = [this](int tile, int level) -> PixelBlock {
        if (level > 0) {
            RefreshLevelCascade(tile, level);
            if (!BringLevelUpToDate(tile, level))
                return {};
        }
        EnsureTile(tile, level);
        return PixelsOf(Tile(tile, level));
    };

    const int threads = mode == kCompressZlib ? StreamThreads() : 1;
    if (threads > 1) {
        BlockPipeline pipeline(file, steps, threads);
        for (int level = 0; level < FLevelCount; ++level) {
            for (int tile = 0; tile < tiles; ++tile) {
                const int step = tile + level * tiles;
                if (Status(tile, 0).Blank) {
                    pipeline.Skip(step);
                    continue;
                }
                const PixelBlock pixels = fetch(tile, level);
                if (pixels.data == nullptr)
                    return false;
                std::vector<std::uint8_t> raw = pipeline.TakeBuffer();
                try {
                    raw.assign(pixels.data, pixels.data + pixels.size);
                } catch (const std::bad_alloc&) {
                    return false;
                }
                if (!pipeline.Submit(std::move(raw), step))
                    return false;
            }
        }
        if (!pipeline.Finish())
            return false;
    } else {
        std::vector<std::uint8_t> encoded;
        for (int level = 0; level < FLevelCount; ++level) {
            for (int tile = 0; tile < tiles; ++tile) {
                const int step = tile + level * tiles;
                if (!Status(tile, 0).Blank) {
                    const PixelBlock pixels = fetch(tile, level);
                    if (pixels.data == nullptr || mode == kCompressRefused)
                        return false;
                    bool written;
                    if (mode == kCompressZlib)
                        written = EncodeBlock(pixels.data, pixels.size, encoded) &&
                                  file.Write(encoded.data(), encoded.size());
                    else
                        written = file.Write(pixels.data, pixels.size);
                    if (!written)
                        return false;
                }
                steps.Step(step);
            }
        }
    }
    steps.Finish();
    return true;
}

bool TUnionBitmap::ReadTiles(platform::File& file, int mode, Statusprogress* progress) {
    if (!FCreated)
        return false;
    const int tiles = TileCount();
    std::uint8_t header[kStreamHeaderBytes];
    std::vector<std::uint8_t> blank(std::size_t(tiles), 0);
    if (!file.Read(header, sizeof header) || !file.Read(blank.data(), blank.size()))
        return false;
    // A stream of another tile grid cannot be placed in this store, and its
    // blocks cannot even be skipped reliably: refuse it, leaving the store as
    // it was. So do blank bytes that are neither 0 nor 1.
    if (GetUint32(header) != std::uint32_t(FTileSize) ||
        GetUint32(header + 4) != std::uint32_t(FLevelCount))
        return false;
    if (std::any_of(blank.begin(), blank.end(), [](std::uint8_t b) { return b > 1; }))
        return false;

    // A tile about to be read in full: fresh pixels without the blank fill
    // unless it is resident already.
    auto target = [this](int tile, int level) -> PixelBlock {
        if (!IsTileResident(tile, level))
            PrepareTileForRestore(tile, level, FBitsPerPixel == 8 ? Palette() : nullptr);
        return PixelsOf(Tile(tile, level));
    };
    auto accept = [this](int tile, int level) {
        if (level == 0) {
            MarkTileChanged(tile);
            return;
        }
        // The stream's reduction of the level-0 tile just read: the flags a
        // regeneration from the level above would leave.
        TileStatus& status = Status(tile, level);
        status.Blank = 0;
        status.Stale = 0;
        status.Changed = 1;
        if (level > 1)
            Status(tile, level - 1).Changed = 0;
    };
    // What a failed block left in the tile is not kept: level 0 goes back to
    // blank, a reduced level is derived again when it is needed.
    auto reject = [this](int tile, int level) {
        if (level == 0)
            MarkTileBlank(tile);
        else
            Status(tile, level).Stale = 1;
    };
    // The stream says the tile holds only the blank colour.
    auto blankTile = [this](int tile) {
        if (!Status(tile, 0).Blank)
            MarkTileBlank(tile);
    };

    StreamProgress steps(progress, FLevelCount * tiles);
    const int threads = mode == kCompressZlib ? StreamThreads() : 1;
    if (threads > 1) {
        using Job = InflatePipeline::Job;
        auto unmark = [this](Job& job) {
            if (job.marked)
                Tile(job.tile, job.level)->SetInUse(false);
            job.marked = false;
        };
        InflatePipeline pipeline(
            steps, threads,
            [&](Job& job) {
                unmark(job);
                accept(job.tile, job.level);
            },
            [&](Job& job) {
                unmark(job);
                reject(job.tile, job.level);
            });
        for (int level = 0; level < FLevelCount; ++level) {
            for (int tile = 0; tile < tiles; ++tile) {
                const int step = tile + level * tiles;
                if (blank[std::size_t(tile)]) {
                    if (level == 0)
                        blankTile(tile);
                    pipeline.Skip(step);
                    continue;
                }
                auto job = std::make_unique<Job>();
                job->tile = tile;
                job->level = level;
                job->firstStep = job->lastStep = step;
                job->target = target(tile, level);
                TQuillorBitmap* bitmap = Tile(tile, level);
                if (job->target.data != nullptr && !bitmap->InUse()) {
                    bitmap->SetInUse(true);
                    job->marked = true;
                }
                // The block's length and bytes, read here in stream order.
                bool read = job->target.data != nullptr;
                std::uint8_t prefix[kLengthBytes];
                read = read && file.Read(prefix, kLengthBytes);
                const std::uint32_t stored = read ? GetUint32(prefix) : 0;
                read = read && stored <= job->target.size;
                if (read && stored == job->target.size) {
                    read = file.Read(job->target.data, job->target.size);
                    job->done = job->ok = read;
                } else if (read) {
                    job->input = pipeline.TakeInput();
                    try {
                        job->input.resize(stored);
                    } catch (const std::bad_alloc&) {
                        read = false;
                    }
                    read = read && file.Read(job->input.data(), stored);
                }
                if (!read) {
                    pipeline.Finish();
                    unmark(*job);
                    reject(tile, level);
                    return false;
                }
                if (!pipeline.Submit(std::move(job)))
                    return false;
            }
        }
        if (!pipeline.Finish())
            return false;
    } else {
        std::vector<std::uint8_t> scratch;
        for (int level = 0; level < FLevelCount; ++level) {
            for (int tile = 0; tile < tiles; ++tile) {
                const int step = tile + level * tiles;
                if (blank[std::size_t(tile)]) {
                    if (level == 0)
                        blankTile(tile);
                    steps.Step(step);
                    continue;
                }
                const PixelBlock pixels = target(tile, level);
                if (pixels.data == nullptr ||
                    !ReadTileBlock(file, pixels.data, pixels.size, mode, scratch)) {
                    reject(tile, level);
                    return false;
                }
                accept(tile, level);
                steps.Step(step);
            }
        }
    }
    steps.Finish();
    return true;
}

bool TUnionBitmap::WriteRect(platform::File& file, int mode, bool flat, int left, int top,
                             int right, int bottom) {
    if (!FCreated || right < left || bottom < top)
        return false;
    const std::int64_t width = std::int64_t(right) - left;
    const std::int64_t height = std::int64_t(bottom) - top;
    if (width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max())
        return false;
    auto part = std::make_unique<TUnionBitmap>();
    if (!part->Create(int(width), int(height), Palette(), FBitsPerPixel))
        return false;
    // Tiles of the rectangle that stay blank mean the same colour to a reader.
    part->SetBlankColor(FBlankColor);
    if (width > 0 && height > 0 &&
        !part->CopyRect(0, 0, nullptr, platform::gdi::SRCCOPY, top, left, *this, int(height),
                        int(width)))
        return false;
    return part->WriteTiles(file, mode, nullptr, flat);
}

}  // namespace quillor
