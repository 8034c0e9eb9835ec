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
#include <array>
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

// Runs jobs on worker threads and settles them on the calling thread in the
// order they were queued; while it waits for the next job in order, the
// calling thread runs queued jobs itself. A Job has `done`, `ok`, and the
// progress steps `firstStep` to `lastStep` it stands for. Buffers of settled
// jobs go back to two pools for the next jobs.
template <class Job>
class OrderedPipeline {
  public:
    using Buffer = std::vector<std::uint8_t>;

    OrderedPipeline(StreamProgress& progress, int threads, void (*run)(Job&))
        : progress_(progress), window_(std::size_t(std::max(threads, 1)) * 3), run_(run) {
        for (int i = 1; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::exception&) {
                break;  // fewer helpers; the calling thread still does the work
            }
        }
    }

    ~OrderedPipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        workAvailable_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    // How many jobs may be pending before the caller settles some.
    std::size_t Window() const { return window_; }

    Buffer Take(int pool) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Buffer>& spare = pools_[std::size_t(pool)];
        if (spare.empty())
            return {};
        Buffer buffer = std::move(spare.back());
        spare.pop_back();
        return buffer;
    }

    void GiveBack(int pool, Buffer buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        pools_[std::size_t(pool)].push_back(std::move(buffer));
    }

    // A job that comes in done is only settled in its turn.
    void Queue(std::unique_ptr<Job> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!job->done)
                todo_.push_back(job.get());
            pending_.push_back(std::move(job));
        }
        workAvailable_.notify_one();
    }

    // A tile without a job: its step follows the jobs before it.
    void Skip(int step) {
        if (pending_.empty())
            progress_.Step(step);
        else
            pending_.back()->lastStep = step;
    }

    void ReportSteps(const Job& job) {
        for (int step = job.firstStep; step <= job.lastStep; ++step)
            progress_.Step(step);
    }

    // Hands finished jobs to `settle`, in queue order and without the lock,
    // while jobs are pending and more(pending count) holds. settle returns
    // false to stop; so does this then.
    template <class More, class Settle>
    bool SettleWhile(More more, Settle settle) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!pending_.empty() && more(pending_.size())) {
            if (pending_.front()->done) {
                std::unique_ptr<Job> job = std::move(pending_.front());
                pending_.pop_front();
                lock.unlock();
                if (!settle(*job))
                    return false;
                lock.lock();
            } else if (!todo_.empty()) {
                Job* job = todo_.front();
                todo_.pop_front();
                lock.unlock();
                run_(*job);
                lock.lock();
                job->done = true;
            } else {
                jobDone_.wait(lock);
            }
        }
        return true;
    }

  private:
    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [this] { return stop_ || !todo_.empty(); });
            if (stop_)
                return;
            Job* job = todo_.front();
            todo_.pop_front();
            lock.unlock();
            run_(*job);
            lock.lock();
            job->done = true;
            jobDone_.notify_all();
        }
    }

    StreamProgress& progress_;
    const std::size_t window_;
    void (*run_)(Job&);
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable jobDone_;
    std::deque<std::unique_ptr<Job>> pending_;  // in queue order
    std::deque<Job*> todo_;                     // not yet taken by a thread
    std::array<std::vector<Buffer>, 2> pools_;
    bool stop_ = false;
};

// Compresses mode-2 blocks on worker threads and writes them in the order
// they were submitted. Only the submitting thread touches the file and the
// progress object.
class BlockPipeline {
  public:
    BlockPipeline(platform::File& file, StreamProgress& progress, int threads)
        : file_(file), jobs_(progress, threads, &Encode) {}

    // A buffer for the next block's raw pixels (recycled from written blocks).
    std::vector<std::uint8_t> TakeBuffer() { return jobs_.Take(kRawPool); }

    // Queues one block whose tile has the progress position `step`; writes
    // finished blocks while too many are pending. False once a write failed.
    bool Submit(std::vector<std::uint8_t> raw, int step) {
        auto job = std::make_unique<Job>();
        job->raw = std::move(raw);
        job->encoded = jobs_.Take(kEncodedPool);
        job->firstStep = job->lastStep = step;
        jobs_.Queue(std::move(job));
        return Drain(jobs_.Window());
    }

    void Skip(int step) { jobs_.Skip(step); }

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
    static constexpr int kRawPool = 0;
    static constexpr int kEncodedPool = 1;

    static void Encode(Job& job) {
        job.ok = EncodeBlock(job.raw.data(), job.raw.size(), job.encoded);
    }

    // Writes blocks in order until fewer than `limit` are pending.
    bool Drain(std::size_t limit) {
        if (failed_)
            return false;
        return jobs_.SettleWhile(
            [limit](std::size_t pending) { return pending >= limit; },
            [this](Job& job) {
                if (!job.ok || !file_.Write(job.encoded.data(), job.encoded.size())) {
                    failed_ = true;
                    return false;
                }
                jobs_.ReportSteps(job);
                jobs_.GiveBack(kRawPool, std::move(job.raw));
                jobs_.GiveBack(kEncodedPool, std::move(job.encoded));
                return true;
            });
    }

    platform::File& file_;
    OrderedPipeline<Job> jobs_;
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
        : jobs_(progress, threads, &Inflate),
          accept_(std::move(accept)),
          reject_(std::move(reject)) {}

    std::vector<std::uint8_t> TakeInput() { return jobs_.Take(0); }

    // Queues a job (a raw block comes in done); accepts finished blocks while
    // too many are pending. False once a block failed: every pending block
    // has then been settled, those before the failure accepted, the others
    // rejected.
    bool Submit(std::unique_ptr<Job> job) {
        jobs_.Queue(std::move(job));
        return Settle(jobs_.Window());
    }

    void Skip(int step) { jobs_.Skip(step); }

    // Settles every pending block; false when one of them failed.
    bool Finish() { return Settle(1); }

  private:
    static void Inflate(Job& job) {
        uLongf inflated = static_cast<uLongf>(job.target.size);
        job.ok = uncompress(job.target.data, &inflated, job.input.data(),
                            static_cast<uLong>(job.input.size())) == Z_OK &&
                 inflated == job.target.size;
    }

    bool Settle(std::size_t limit) {
        jobs_.SettleWhile(
            [this, limit](std::size_t pending) { return failed_ || pending >= limit; },
            [this](Job& job) {
                if (!job.ok)
                    failed_ = true;
                if (failed_) {
                    reject_(job);
                } else {
                    accept_(job);
                    jobs_.ReportSteps(job);
                }
                jobs_.GiveBack(0, std::move(job.input));
                return true;
            });
        return !failed_;
    }

    OrderedPipeline<Job> jobs_;
    Handler accept_;
    Handler reject_;
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
        PutLe32(head.data(), std::uint32_t(FTileSize));
        PutLe32(head.data() + 4, std::uint32_t(FLevelCount));
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
                    if (pixels.data == nullptr ||
                        !WriteBlock(file, pixels.data, pixels.size, mode, encoded))
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
    if (GetLe32(header) != std::uint32_t(FTileSize) ||
        GetLe32(header + 4) != std::uint32_t(FLevelCount))
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
                const std::uint32_t stored = read ? GetLe32(prefix) : 0;
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
                    !ReadBlock(file, pixels.data, pixels.size, mode, scratch)) {
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
