#include "core/utils/forecast.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "core/utils/compression.hpp"
#include "core/utils/program_thread.hpp"

namespace packmeter {

namespace {

struct KnownMethod {
    CompressionAlgorithm algorithm;
    std::string_view name;
    int maxLevel;
};
constexpr KnownMethod kAlgorithms[] = {
    {CompressionAlgorithm::kZstd, "zstd", 15},
    {CompressionAlgorithm::kLzo, "lzo", 0},
    {CompressionAlgorithm::kZlib, "zlib", 9},
    {CompressionAlgorithm::kLznt1, "lznt1", 0},
};

std::int64_t RoundUp(std::int64_t bytes, std::int64_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

ForecastGeometry GeometryFor(ForecastRules rules) {
    ForecastGeometry geometry;
    if (rules == ForecastRules::kNtfs) {
        geometry.chunk = 16 * geometry.sector;
        geometry.stretch = geometry.chunk;
        geometry.maxInline = 656;
    }
    return geometry;
}

// A piece of the file that the rules treat on its own: a btrfs write-back stretch, an NTFS
// compression unit.
struct Stretch {
    std::int64_t start = 0;
    std::int64_t length = 0;
};

std::vector<Stretch> Stretches(FileReader* reader, std::int64_t size,
                               const ForecastGeometry& geometry, ForecastRules rules) {
    std::vector<Stretch> stretches;
    if (rules == ForecastRules::kNtfs || reader == nullptr) {
        // Units lie at fixed places; a unit of zeros (a hole too) is found by reading it.
        for (std::int64_t at = 0; at < size; at += geometry.stretch) {
            stretches.push_back({at, std::min(geometry.stretch, size - at)});
        }
        return stretches;
    }
    std::int64_t at = std::clamp<std::int64_t>(reader->NextData(0), 0, size);
    while (at < size) {
        std::int64_t end = std::clamp<std::int64_t>(reader->NextHole(at), at, size);
        if (end == at) {
            end = size;
        }
        for (std::int64_t s = at; s < end; s += geometry.stretch) {
            stretches.push_back({s, std::min(geometry.stretch, end - s)});
        }
        at = end < size ? std::clamp<std::int64_t>(reader->NextData(end), end, size) : size;
    }
    return stretches;
}

// Quick mode reads files of up to kQuickWhole stretches whole; of larger ones one stretch in
// kQuickStretchShare, at least kQuickMinStretches (the first, the last and evenly between).
// Of the files it would read whole it reads, per size class and name extension, the first
// kQuickMinFiles and then one whenever those read make less than one kQuickFileShare-th of the
// bytes met. Measured on a copy of /usr/share and on a tree of libraries, packages, images and
// headers: fewer stretches of a large file missed the parts of static libraries and fonts that
// compress differently (up to 20 % off for one file), and coarser size classes mixed files of
// one extension that compress differently (up to 21 % off for a folder).
constexpr std::size_t kQuickWhole = 8;
constexpr std::size_t kQuickMinStretches = 8;
constexpr std::size_t kQuickStretchShare = 32;
constexpr std::int64_t kQuickMinFiles = 1;
constexpr std::int64_t kQuickFileShare = 32;
// Size classes split each power of two in 2^kSizeClassSplit.
constexpr int kSizeClassSplit = 3;

// Which stretches a forecast reads: every one, or a sample.
std::vector<std::size_t> Sample(std::size_t count, bool quick, std::int64_t limit,
                                std::int64_t stretch) {
    std::vector<std::size_t> picked;
    std::size_t wanted = count;
    if (limit > 0) {
        wanted =
            static_cast<std::size_t>(std::max<std::int64_t>(1, (limit + stretch - 1) / stretch));
        for (std::size_t i = 0; i < std::min(wanted, count); ++i) {
            picked.push_back(i);
        }
        return picked;
    }
    if (quick && count > kQuickWhole) {
        wanted = std::max<std::size_t>(kQuickMinStretches,
                                       (count + kQuickStretchShare - 1) / kQuickStretchShare);
    }
    if (wanted >= count) {
        for (std::size_t i = 0; i < count; ++i) {
            picked.push_back(i);
        }
        return picked;
    }
    for (std::size_t i = 0; i < wanted; ++i) {
        picked.push_back(i * (count - 1) / (wanted - 1));
    }
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return picked;
}

bool ReadFully(FileReader& reader, std::int64_t offset, std::uint8_t* buffer, std::int64_t size) {
    std::int64_t done = 0;
    while (done < size) {
        const std::int64_t got = reader.Read(offset + done, buffer + done, size - done);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            // The file shrank while it was read: the rest reads as zeros.
            std::fill(buffer + done, buffer + size, std::uint8_t{0});
            return true;
        }
        done += got;
    }
    return true;
}

std::int64_t BtrfsStretch(std::span<const std::uint8_t> data, std::int64_t start,
                          const ForecastGeometry& g, ChunkCompressor& compressor) {
    const auto length = static_cast<std::int64_t>(data.size());
    std::int64_t stored = 0;
    for (std::int64_t at = 0; at < length;) {
        const std::int64_t rest = length - at;
        if (rest <= g.sector && start + at > 0) {
            return stored + RoundUp(rest, g.sector);
        }
        const std::int64_t piece = std::min(g.chunk, rest);
        const auto packed = static_cast<std::int64_t>(compressor.CompressedSize(
            data.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(piece))));
        if (packed >= piece || RoundUp(packed, g.sector) + g.sector > RoundUp(piece, g.sector)) {
            return stored + RoundUp(rest, g.sector);
        }
        stored += RoundUp(packed, g.sector);
        at += piece;
    }
    return stored;
}

std::int64_t NtfsUnit(std::span<const std::uint8_t> data, const ForecastGeometry& g,
                      ChunkCompressor& compressor) {
    if (std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; })) {
        return 0;
    }
    const std::int64_t plain = RoundUp(static_cast<std::int64_t>(data.size()), g.sector);
    const std::int64_t packed =
        RoundUp(static_cast<std::int64_t>(compressor.CompressedSize(data)), g.sector);
    return packed < g.chunk ? packed : plain;
}

}  // namespace

std::optional<CompressionChoice> ParseCompressionMethod(std::string_view text) {
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    for (const KnownMethod& known : kAlgorithms) {
        if (name != known.name) {
            continue;
        }
        CompressionChoice choice;
        choice.algorithm = known.algorithm;
        if (colon == std::string_view::npos) {
            return choice;
        }
        const std::string_view digits = text.substr(colon + 1);
        int level = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), level);
        if (error != std::errc() || end != digits.data() + digits.size() || level < 1 ||
            level > known.maxLevel) {
            return std::nullopt;
        }
        choice.level = level;
        return choice;
    }
    return std::nullopt;
}

std::string CompressionMethodText(const CompressionChoice& choice) {
    for (const KnownMethod& known : kAlgorithms) {
        if (known.algorithm == choice.algorithm) {
            std::string text(known.name);
            if (choice.level > 0) {
                text += ':' + std::to_string(choice.level);
            }
            return text;
        }
    }
    return "default";
}

ForecastRules RulesForFileSystem(std::string_view fileSystem) {
    if (fileSystem == "btrfs") {
        return ForecastRules::kBtrfs;
    }
    if (fileSystem == "NTFS") {
        return ForecastRules::kNtfs;
    }
    return ForecastRules::kNone;
}

bool LeaveAlone(std::string_view name, FileReader& reader, std::int64_t size, ForecastRules rules,
                const CompressionChoice& choice, ChunkCompressor& compressor,
                std::int64_t sampled) {
    if (choice.minSavingPercent <= 0) {
        return false;
    }
    const std::optional<std::int64_t> forecast =
        ForecastFile(reader, size, size, rules, compressor, true, nullptr, nullptr, sampled);
    if (!forecast) {
        return false;
    }
    const double saving = SavingPercent(size, *forecast);
    if (saving >= choice.minSavingPercent) {
        return false;
    }
    if (choice.leftAlone) {
        choice.leftAlone(name, saving);
    }
    return true;
}

double SavingPercent(std::int64_t size, std::int64_t forecast) {
    return size > 0 ? 100.0 * static_cast<double>(size - forecast) / static_cast<double>(size) : 0;
}

std::int64_t ForecastReadBytes(std::int64_t size, ForecastRules rules, bool quick) {
    const ForecastGeometry g = GeometryFor(rules);
    if (rules == ForecastRules::kNone || size <= 0 ||
        (rules == ForecastRules::kNtfs && RoundUp(size, 8) <= g.maxInline)) {
        return 0;
    }
    const std::vector<Stretch> stretches = Stretches(nullptr, size, g, rules);
    std::int64_t bytes = 0;
    for (std::size_t i : Sample(stretches.size(), quick, 0, g.stretch)) {
        bytes += stretches[i].length;
    }
    return bytes;
}

namespace {

// The space the file system's rules give the file, before the figure is capped as the scan
// caps it.
std::optional<std::int64_t> OccupiedAfter(FileReader& reader, std::int64_t size,
                                          std::int64_t onDiskNow, ForecastRules rules,
                                          ChunkCompressor& compressor, bool quick,
                                          ForecastProgress* progress, const std::atomic<bool>* stop,
                                          std::int64_t limit) {
    if (rules == ForecastRules::kNone) {
        return onDiskNow;
    }
    if (size <= 0) {
        return 0;
    }
    const ForecastGeometry g = GeometryFor(rules);
    std::vector<std::uint8_t> buffer;
    if (rules == ForecastRules::kNtfs && RoundUp(size, 8) <= g.maxInline) {
        return RoundUp(size, 512);
    }
    if (rules == ForecastRules::kNtfs && reader.Sparse()) {
        return onDiskNow;  // the rewrite leaves sparse files as they are
    }
    if (rules == ForecastRules::kBtrfs && size <= g.sector) {
        buffer.resize(static_cast<std::size_t>(size));
        if (!ReadFully(reader, 0, buffer.data(), size)) {
            return std::nullopt;
        }
        if (progress != nullptr) {
            progress->done += size;
        }
        const auto packed = static_cast<std::int64_t>(compressor.CompressedSize(buffer));
        if (packed <= g.maxInline && packed < size) {
            return packed;
        }
        return size <= g.maxInline ? size : g.sector;
    }
    const std::vector<Stretch> stretches = Stretches(&reader, size, g, rules);
    const std::vector<std::size_t> picked = Sample(stretches.size(), quick, limit, g.stretch);
    buffer.resize(static_cast<std::size_t>(g.stretch));
    std::int64_t sampledPlain = 0;
    std::int64_t sampledStored = 0;
    for (std::size_t i : picked) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            return std::nullopt;
        }
        const Stretch& s = stretches[i];
        if (!ReadFully(reader, s.start, buffer.data(), s.length)) {
            return std::nullopt;
        }
        if (progress != nullptr) {
            progress->done += s.length;
        }
        const std::span<const std::uint8_t> data(buffer.data(), static_cast<std::size_t>(s.length));
        sampledPlain += RoundUp(s.length, g.sector);
        sampledStored += rules == ForecastRules::kBtrfs ? BtrfsStretch(data, s.start, g, compressor)
                                                        : NtfsUnit(data, g, compressor);
    }
    std::int64_t restPlain = 0;
    for (const Stretch& s : stretches) {
        restPlain += RoundUp(s.length, g.sector);
    }
    restPlain -= sampledPlain;
    if (restPlain <= 0 || sampledPlain == 0) {
        return sampledStored;
    }
    const double ratio = static_cast<double>(sampledStored) / static_cast<double>(sampledPlain);
    return sampledStored + static_cast<std::int64_t>(static_cast<double>(restPlain) * ratio);
}

}  // namespace

std::optional<std::int64_t> ForecastFile(FileReader& reader, std::int64_t size,
                                         std::int64_t onDiskNow, ForecastRules rules,
                                         ChunkCompressor& compressor, bool quick,
                                         ForecastProgress* progress, const std::atomic<bool>* stop,
                                         std::int64_t limit) {
    const std::optional<std::int64_t> occupied =
        OccupiedAfter(reader, size, onDiskNow, rules, compressor, quick, progress, stop, limit);
    if (!occupied) {
        return std::nullopt;
    }
    return ShownOnDisk(*occupied, size);
}

namespace {

// The name's extension in lower case ("gz" of "a.tar.GZ"), empty without one.
std::string Extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 8) {
        return {};
    }
    std::string extension(name.substr(dot + 1));
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension;
}

// Sizes in classes of an eighth of a power of two: files of one type and similar size compress
// alike.
int SizeClassOf(std::int64_t size) {
    const auto bytes = static_cast<std::uint64_t>(size);
    const int width = std::bit_width(bytes);
    if (width <= kSizeClassSplit + 1) {
        return width;
    }
    const auto below =
        static_cast<int>((bytes >> (width - 1 - kSizeClassSplit)) & ((1u << kSizeClassSplit) - 1));
    return (width << kSizeClassSplit) + below;
}

class TreeForecast {
  public:
    // Files are read and compressed by two workers, each with its own compressor, while this
    // thread lists the folders: reading overlaps waiting for the disk, and compressing uses
    // both cores.
    TreeForecast(const ForecastRequest& request, ForecastRules rules,
                 std::vector<std::unique_ptr<ChunkCompressor>> compressors,
                 ForecastProgress* progress, const std::atomic<bool>* stop,
                 std::atomic<std::size_t>& unlisted)
        : request_(request), rules_(rules), progress_(progress), stop_(stop), unlisted_(unlisted) {
        for (auto& compressor : compressors) {
            workers_.push_back(StartProgramThread(
                "forecast reader", [this](ChunkCompressor* c) { Work(*c); }, compressor.get()));
            compressors_.push_back(std::move(compressor));
        }
    }
    ~TreeForecast() {
        {
            const std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }
    TreeForecast(const TreeForecast&) = delete;
    TreeForecast& operator=(const TreeForecast&) = delete;

    bool Stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

    // The path is listed: once every path is, progress.total is final.
    void Listed() {
        if (unlisted_.fetch_sub(1) == 1 && progress_ != nullptr) {
            progress_->listed = true;
        }
    }

    // A regular file of the folder of the last Tree (or SetFolder) call.
    void SetFolder(std::shared_ptr<Folder> folder) { folder_ = std::move(folder); }
    void File(const Entry& entry, ForecastSizes& sizes) {
        if (entry.links > 1 && !seen_.emplace(entry.volumeId, entry.fileId).second) {
            return;  // another name of a file counted already
        }
        sizes.files += 1;
        sizes.size += entry.size;
        sizes.onDiskNow += entry.onDisk;
        const std::int64_t reads = ForecastReadBytes(entry.size, rules_, request_.quick);
        // Quick mode reads, of the files that would be read whole, per size class and type the
        // first kQuickMinFiles and then a file whenever those read are less than one
        // kQuickFileShare-th of the bytes met; the others are not even opened.
        SizeClass* sampled = nullptr;
        if (request_.quick && reads > 0 && reads == entry.size) {
            SizeClass& group = classes_[{SizeClassOf(entry.size), Extension(entry.name)}];
            group.seen += entry.size;
            if (group.picked >= kQuickMinFiles &&
                group.pickedBytes * kQuickFileShare >= group.seen) {
                group.deferred += entry.size;
                return;
            }
            group.picked += 1;
            group.pickedBytes += entry.size;
            sampled = &group;
        }
        if (progress_ != nullptr) {
            progress_->total += reads;
        }
        if (rules_ == ForecastRules::kNone || workers_.empty()) {
            const std::lock_guard lock(mutex_);
            sizes.forecast += entry.onDisk;
            return;
        }
        Job job{folder_, std::string(entry.name), entry.size, entry.onDisk, &sizes, sampled};
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return jobs_.size() < kQueued; });
        jobs_.push_back(std::move(job));
        lock.unlock();
        wake_.notify_one();
    }

    // Quick mode: the files not read take the ratio of the files read of their size class.
    void Finish(ForecastSizes& sizes) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return jobs_.empty() && busy_ == 0; });
        for (const auto& [key, group] : classes_) {
            if (group.deferred > 0 && group.size > 0) {
                sizes.forecast += static_cast<std::int64_t>(static_cast<double>(group.deferred) *
                                                            static_cast<double>(group.forecast) /
                                                            static_cast<double>(group.size));
            }
        }
        classes_ = {};
    }

    void Tree(const std::shared_ptr<Folder>& folder, ForecastSizes& sizes) {
        folder_ = folder;
        std::vector<std::string> subfolders;
        std::vector<std::pair<std::string, Entry>> files;
        const bool listed = folder->List(ListDetail::kSizes, [&](const Entry& entry) {
            if (entry.unreadable) {
                AddUnreadable(sizes);
            } else if (entry.enterable) {
                if (!IsExcludedFolderName(entry.name)) {
                    subfolders.emplace_back(entry.name);
                }
            } else if (entry.regular) {
                files.emplace_back(std::string(entry.name), entry);
            }
            return !Stopped();
        });
        if (!listed) {
            AddUnreadable(sizes);
            return;
        }
        for (auto& [name, entry] : files) {
            if (Stopped()) {
                return;
            }
            entry.name = name;
            folder_ = folder;
            File(entry, sizes);
        }
        for (const std::string& name : subfolders) {
            if (Stopped()) {
                return;
            }
            if (std::shared_ptr<Folder> sub = folder->OpenSubfolder(name)) {
                Tree(sub, sizes);
            } else {
                AddUnreadable(sizes);
            }
        }
    }

    // The workers count unreadable files too.
    void AddUnreadable(ForecastSizes& sizes) {
        const std::lock_guard lock(mutex_);
        sizes.unreadable += 1;
    }

  private:
    struct SizeClass;
    struct Job {
        std::shared_ptr<Folder> folder;
        std::string name;
        std::int64_t size = 0;
        std::int64_t onDisk = 0;
        ForecastSizes* sizes = nullptr;
        SizeClass* sampled = nullptr;
    };
    static constexpr std::size_t kQueued = 256;

    void Work(ChunkCompressor& compressor) {
        for (;;) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            ++busy_;
            lock.unlock();
            room_.notify_all();
            std::optional<std::int64_t> forecast;
            if (!Stopped()) {
                if (const std::unique_ptr<FileReader> reader = job.folder->OpenFile(job.name)) {
                    forecast = ForecastFile(*reader, job.size, job.onDisk, rules_, compressor,
                                            request_.quick, progress_, stop_);
                }
            }
            job.folder.reset();
            lock.lock();
            if (!forecast) {
                job.sizes->unreadable += Stopped() ? 0 : 1;
                forecast = job.onDisk;
            } else if (job.sampled != nullptr) {
                job.sampled->size += job.size;
                job.sampled->forecast += *forecast;
            }
            job.sizes->forecast += *forecast;
            --busy_;
            lock.unlock();
            room_.notify_all();
        }
    }

    const ForecastRequest& request_;
    ForecastRules rules_;
    ForecastProgress* progress_;
    const std::atomic<bool>* stop_;
    std::atomic<std::size_t>& unlisted_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
    struct SizeClass {
        std::int64_t seen = 0;  // bytes of the files met
        std::int64_t picked = 0;
        std::int64_t pickedBytes = 0;
        std::int64_t size = 0;  // of the files read
        std::int64_t forecast = 0;
        std::int64_t deferred = 0;  // bytes of the files not read
    };
    // By size class (powers of two) and name extension: files of one type compress alike.
    std::map<std::pair<int, std::string>, SizeClass> classes_;
    std::shared_ptr<Folder> folder_;
    std::vector<std::unique_ptr<ChunkCompressor>> compressors_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a job waits, or closing
    std::condition_variable room_;  // the queue shrank or a job ended
    std::deque<Job> jobs_;
    int busy_ = 0;
    bool closing_ = false;
};

// Forecasts one path: a folder with everything below it, or a single file.
void ForecastOne(FileSystem& fs, TreeForecast& walk, ForecastRow& row) {
    if (std::shared_ptr<Folder> folder = fs.OpenFolder(row.path)) {
        row.found = true;
        row.folder = true;
        walk.Tree(folder, row.sizes);
        walk.Listed();
        walk.Finish(row.sizes);
        return;
    }
    const PathParts parts = SplitPath(row.path);
    const std::shared_ptr<Folder> parent = fs.OpenFolder(parts.parent.empty() ? "." : parts.parent);
    if (!parent) {
        walk.Listed();
        return;
    }
    std::optional<Entry> found;
    parent->List(ListDetail::kSizes, [&](const Entry& entry) {
        if (entry.name != parts.name) {
            return true;
        }
        if (entry.regular) {
            found = entry;
        }
        return false;
    });
    if (found) {
        row.found = true;
        found->name = parts.name;
        walk.SetFolder(parent);
        walk.File(*found, row.sizes);
    }
    walk.Listed();
    walk.Finish(row.sizes);
}

}  // namespace

bool ForecastPaths(FileSystem& fs, const std::vector<std::string>& paths,
                   const ForecastRequest& request, const CompressorFactory& makeCompressor,
                   std::vector<ForecastRow>& rows, ForecastProgress* progress,
                   const std::atomic<bool>* stop) {
    rows.clear();
    std::vector<ForecastRules> rules;
    for (const std::string& path : paths) {
        ForecastRow row;
        row.path = path;
        const VolumeInfo volume = fs.GetVolumeInfo(path);
        row.fileSystem = volume.fileSystem;
        rules.push_back(request.rules.value_or(RulesForFileSystem(volume.fileSystem)));
        rows.push_back(std::move(row));
    }
    // Two paths are forecast at a time, each listed on a thread of its own: listing a folder
    // mostly waits for the disk, and while one path's last files are read the other is listed.
    // Each path's sample depends on its own listing alone, so the result does not depend on
    // which thread took which path.
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> unlisted{rows.size()};
    std::atomic<bool> stopped{false};
    std::mutex makeMutex;  // the factory is the caller's; it is called on one thread at a time
    const auto forecastPaths = [&] {
        for (std::size_t i = next++; i < rows.size() && !stopped; i = next++) {
            CompressionChoice method = request.method;
            if (rules[i] == ForecastRules::kNtfs) {
                method = CompressionChoice{};
                method.algorithm = CompressionAlgorithm::kLznt1;
            }
            constexpr int kReaders = 2;
            std::vector<std::unique_ptr<ChunkCompressor>> compressors;
            for (int k = 0; k < kReaders && rules[i] != ForecastRules::kNone; ++k) {
                const std::lock_guard lock(makeMutex);
                if (std::unique_ptr<ChunkCompressor> compressor = makeCompressor(method)) {
                    compressors.push_back(std::move(compressor));
                }
            }
            const ForecastRules used = !compressors.empty() ? rules[i] : ForecastRules::kNone;
            TreeForecast walk(request, used, std::move(compressors), progress, stop, unlisted);
            ForecastOne(fs, walk, rows[i]);
            if (walk.Stopped()) {
                stopped = true;
            }
        }
    };
    if (rows.size() > 1) {
        std::thread other = StartProgramThread("forecast lister", forecastPaths);
        forecastPaths();
        other.join();
    } else {
        forecastPaths();
    }
    if (progress != nullptr) {
        progress->listed = true;
    }
    return !stopped;
}

}  // namespace packmeter
