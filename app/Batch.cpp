#include "app/Batch.h"

#include "app/LogRoundTrip.h"
#include "archive/DirFileU.h"
#include "base/Errors.h"
#include "base/Parallel.h"
#include "platform/Durability.h"
#include "platform/FileUtil.h"

#include <cerrno>
#include <mutex>

namespace pelfry {

namespace {

// Walks `count` files: Cancel is asked before each, then the follower is told of it and runs
// `work` on it.
BatchResult Walk(BatchFollower& follower, size_t count,
                 const std::function<std::string(size_t)>& shown,
                 const std::function<void(size_t)>& work) {
    BatchResult result;
    result.Total = static_cast<int>(count);
    for (size_t i = 0; i < count; ++i) {
        if (follower.Cancelled()) {
            result.Stopped = true;
            break;
        }
        follower.Begin(result.Done + 1, result.Total, shown(i));
        follower.Work([&] { work(i); });
        ++result.Done;
        follower.End(result.Done);
    }
    return result;
}

// The folder of a job, made first when asked: the names in it are judged as it judges them,
// which is asked of the folder itself. Taken away again when the command is refused before
// it writes anything, unless kept.
class JobFolder {
public:
    explicit JobFolder(const FolderJob& job) {
        if (!job.MakeFolder.empty() && !ForceDirectories(job.Folder, &made_))
            throw FolderCreateError(job.MakeFolder, errno);
    }
    ~JobFolder() {
        if (!kept_) RemoveMadeFolders(made_);
    }
    JobFolder(const JobFolder&) = delete;
    JobFolder& operator=(const JobFolder&) = delete;
    void Keep() { kept_ = true; }

private:
    std::vector<std::string> made_;
    bool kept_ = false;
};

bool SameSettings(const BackSettings& a, const BackSettings& b) {
    return a.Recreate == b.Recreate && a.Options.CompressSpr == b.Options.CompressSpr &&
           a.Options.CompressImg == b.Options.CompressImg &&
           a.Options.OpaqueImg == b.Options.OpaqueImg;
}

// The settings of back conversions, read from the follower on the command's thread before each
// file (a check box may change while the command runs); the pool's threads prepare with the
// ones read last, and a file prepared with others than those of its turn is prepared again.
class Settings {
public:
    using Prepare = std::function<BackConversion(size_t index, const BackSettings&)>;

    Settings(BatchFollower& follower, Prepare prepare)
        : follower_(follower), prepare_(std::move(prepare)), latest_(follower.Settings()) {}

    // On a pool's thread.
    struct Prepared {
        BackSettings With;
        BackConversion Conversion;
        std::exception_ptr Error; // raised in its turn, if the settings still hold then
    };
    Prepared Ahead(size_t index) const {
        Prepared prepared;
        {
            const std::lock_guard lock(mutex_);
            prepared.With = latest_;
        }
        try {
            prepared.Conversion = prepare_(index, prepared.With);
        } catch (...) {
            prepared.Error = std::current_exception();
        }
        return prepared;
    }

    // On the command's thread, in file order: the settings for file `index`, and its
    // conversion under them.
    BackConversion Take(OrderedWork<Prepared>& work, size_t index, BackSettings& now) {
        now = follower_.Settings();
        {
            const std::lock_guard lock(mutex_);
            latest_ = now;
        }
        Prepared prepared = work.Take(index);
        if (!SameSettings(prepared.With, now)) return prepare_(index, now);
        if (prepared.Error) std::rethrow_exception(prepared.Error);
        return std::move(prepared.Conversion);
    }

    // The options of a conversion finished under `now`, its warnings told to the follower.
    ConvertOptions Finishing(const BackSettings& now) const {
        ConvertOptions options = now.Options;
        options.Warn = [this](const std::string& text) { follower_.Warn(text); };
        return options;
    }

private:
    BatchFollower& follower_;
    Prepare prepare_;
    mutable std::mutex mutex_;
    BackSettings latest_;
};

using BackWork = OrderedWork<Settings::Prepared>;

// The pictures made ahead of the files written, at most this many bytes of them waiting: with
// the one under way on each thread, all the memory an extract or export needs besides the entry
// being written, whatever the archive's size.
constexpr uint64_t ReadyPictureBytes = 32 << 20;

using PictureWork = OrderedWork<std::vector<MadeFile>>;

PictureWork MakePicturesAhead(size_t count, unsigned jobs,
                              std::function<std::vector<MadeFile>(size_t)> make) {
    return PictureWork(
        count, jobs, std::move(make), {},
        [](const std::vector<MadeFile>& files) {
            uint64_t bytes = 0;
            for (const MadeFile& file : files)
                bytes += file.Bytes.size();
            return bytes;
        },
        ReadyPictureBytes);
}

// `files`, each warning of their making told first.
std::vector<MadeFile> Told(BatchFollower& follower, std::vector<MadeFile> files) {
    for (const MadeFile& file : files)
        if (!file.Warning.empty()) follower.Warn(file.Warning);
    return files;
}

// Back conversions prepared ahead for `targets` (BackConversionTarget of each input): an item
// that reads what one before it writes waits for it.
BackWork PrepareBack(const Settings& settings, const std::vector<std::string>& targets,
                     unsigned jobs) {
    auto waits = std::make_shared<std::vector<bool>>(BackConversionsThatWait(targets));
    return BackWork(
        targets.size(), jobs, [&settings](size_t i) { return settings.Ahead(i); },
        [waits](size_t i) { return (*waits)[i]; });
}

} // namespace

BatchResult Extract(TDirFile& archive, const ExtractJob& job, BatchFollower& follower) {
    JobFolder out(job);
    CheckDistinctFiles(archive, job.Entries, job.Folder, job.Convert);
    out.Keep();
    DurabilityScope durable;
    const size_t count = job.Entries.size();
    auto entry = [&](size_t i) { return job.Entries[i]; };
    // The pictures are made on the pool, each entry read for its own picture and again, alone,
    // to be written: the archive is never held whole.
    PictureWork pictures = MakePicturesAhead(job.Convert ? count : 0, job.Jobs, [&](size_t i) {
        return MakeExportedFiles(archive, job.Folder, entry(i), *job.Convert);
    });
    BatchResult result = Walk(
        follower, count,
        [&](size_t i) { return archive.Files()[static_cast<size_t>(entry(i))].Name; },
        [&](size_t i) {
            if (!job.Convert) {
                ExtractEntryOrFail(archive, job.Folder, entry(i));
                return;
            }
            // Only the editable files stay: the game file goes once it has been converted.
            ExportEntry(
                archive, job.Folder, entry(i), [&] { return Told(follower, pictures.Take(i)); },
                false);
        });
    durable.Commit();
    return result;
}

BatchResult Export(TDirFile& archive, const ExportJob& job, BatchFollower& follower) {
    CheckLogNames(job.LogLines);
    std::vector<int32_t> all(archive.Count());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<int32_t>(i);
    JobFolder out(job);
    CheckDistinctFiles(archive, all, job.Folder, job.Format, ExtractFileName(job.Log));
    out.Keep();
    BatchResult result;
    {
        // The new files reach the disk all at once, before the log that stands for them.
        DurabilityScope durable;
        PictureWork pictures = MakePicturesAhead(all.size(), job.Jobs, [&](size_t i) {
            return MakeExportedFiles(archive, job.Folder, static_cast<int32_t>(i), job.Format);
        });
        result = Walk(
            follower, all.size(), [&](size_t i) { return archive.Files()[i].Name; },
            [&](size_t i) {
                ExportEntry(archive, job.Folder, static_cast<int32_t>(i),
                            [&] { return Told(follower, pictures.Take(i)); });
            });
        durable.Commit();
    }
    // Only a complete export has a log: a rebuild from it would miss entries.
    if (!result.Stopped) WriteTextLines(job.Log, job.LogLines);
    return result;
}

BatchResult AddFiles(TDirFile& archive, const AddJob& job, BatchFollower& follower) {
    // The game files rebuilt on the way are named without a flush of their own: they go again.
    DurabilityScope durable;
    std::vector<std::string> targets(job.Files.size());
    if (job.ConvertBack)
        for (size_t i = 0; i < targets.size(); ++i)
            targets[i] = BackConversionTarget(job.Files[i]);
    Settings settings(follower, [&](size_t i, const BackSettings& s) {
        return PrepareConvertBack(job.Files[i], s.Recreate, s.Options);
    });
    BackWork back = PrepareBack(settings, targets, job.ConvertBack ? job.Jobs : 1);
    BatchResult result = Walk(
        follower, job.Files.size(), [&](size_t i) { return job.Files[i]; },
        [&](size_t i) {
            const std::string& file = job.Files[i];
            std::string added = file;
            if (job.ConvertBack) {
                BackSettings now;
                BackConversion conversion = settings.Take(back, i, now);
                FinishConvertBack(conversion, settings.Finishing(now), added);
            }
            int32_t index = 0;
            archive.AddFileAs(added, job.Names.empty() ? ExtractFileName(added) : job.Names[i],
                              index);
            // The game file was only a step on the way into the archive; the edited files stay.
            if (added != file) DeleteFile(added);
        });
    durable.Commit();
    return result;
}

BatchResult Rebuild(TDirFile& archive, const std::string& log,
                    const std::vector<std::string>& lines, unsigned jobs, BatchFollower& follower) {
    const std::string folder = ExtractFilePath(log);
    // The game files made anew reach the disk all at once, before the archive that holds them
    // is saved (with a flush of its own).
    DurabilityScope durable;
    std::vector<std::string> targets;
    for (const std::string& line : lines)
        targets.push_back(RebuildTarget(folder, line));
    Settings settings(follower, [&](size_t k, const BackSettings& s) {
        return PrepareRebuildEntry(folder, lines[k], s.Recreate, s.Options);
    });
    BackWork back = PrepareBack(settings, targets, jobs);
    int converted = 0;
    BatchResult result = Walk(
        follower, lines.size(), [&](size_t k) { return folder + lines[k]; },
        [&](size_t k) {
            CheckLogLine(log, k + 1, lines[k]);
            // The settings are read as the line's turn comes, before its conversion.
            BackSettings now;
            BackConversion conversion = settings.Take(back, k, now);
            if (RebuildEntry(archive, folder, lines[k], settings.Finishing(now),
                             [&] { return std::move(conversion); }))
                ++converted;
        });
    durable.Commit();
    result.Converted = converted;
    return result;
}

namespace {

// ConvertFiles with the files of each made by `make`.
BatchResult ConvertEach(const std::vector<std::string>& files, unsigned jobs,
                        BatchFollower& follower,
                        const std::function<void(size_t index, const std::string& result)>& told,
                        const std::function<std::vector<MadeFile>(const std::string&)>& make) {
    // The new files reach the disk all at once at the end, not one by one.
    DurabilityScope durable;
    PictureWork pictures =
        MakePicturesAhead(files.size(), jobs, [&](size_t i) { return make(files[i]); });
    BatchResult result = Walk(
        follower, files.size(), [&](size_t i) { return files[i]; },
        [&](size_t i) {
            const std::string& file = files[i];
            // A file of no convertible kind is left alone, but one that is not there is an
            // error, not "left alone".
            if (!FileExists(file)) throw FileOpenError(file, ENOENT);
            told(i, WriteConvertedFiles(file, Told(follower, pictures.Take(i))));
        });
    durable.Commit();
    return result;
}

} // namespace

BatchResult ConvertFiles(const std::vector<std::string>& files, PictureFormat format, unsigned jobs,
                         BatchFollower& follower,
                         const std::function<void(size_t index, const std::string& result)>& told) {
    return ConvertEach(files, jobs, follower, told, [format](const std::string& file) {
        return MakeConvertedFiles(file, format);
    });
}

BatchResult
ConvertFilesToGif(const std::vector<std::string>& files, unsigned jobs, BatchFollower& follower,
                  const std::function<void(size_t index, const std::string& result)>& told) {
    return ConvertEach(files, jobs, follower, told, MakeGifFiles);
}

BatchResult ConvertBackFiles(
    const std::vector<std::string>& files, unsigned jobs, BatchFollower& follower,
    const std::function<void(size_t index, const std::string& result, bool converted)>& told) {
    std::vector<std::string> targets;
    for (const std::string& file : files)
        targets.push_back(BackConversionTarget(file));
    // The new files reach the disk all at once at the end, not one by one.
    DurabilityScope durable;
    Settings settings(follower, [&](size_t i, const BackSettings& s) {
        return PrepareConvertBack(files[i], s.Recreate, s.Options);
    });
    BackWork back = PrepareBack(settings, targets, jobs);
    int converted = 0;
    BatchResult result = Walk(
        follower, files.size(), [&](size_t i) { return files[i]; },
        [&](size_t i) {
            const std::string& file = files[i];
            // The dispatch only compares ages, which a missing file has too (-1); here a file
            // that is not there is an error rather than "unchanged".
            if (!FileExists(file)) throw FileOpenError(file, ENOENT);
            BackSettings now;
            BackConversion conversion = settings.Take(back, i, now);
            std::string made;
            const bool rebuilt = FinishConvertBack(conversion, settings.Finishing(now), made);
            converted += rebuilt ? 1 : 0;
            told(i, made, rebuilt);
        });
    durable.Commit();
    result.Converted = converted;
    return result;
}

} // namespace pelfry
