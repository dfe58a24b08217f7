#include "online/downloadthread.h"

#include "online/downloadlist.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace marlix {

namespace fs = std::filesystem;

namespace {

// Bytes of a partial file that the server's answer must repeat before it is continued.
constexpr uint64_t kResumeOverlap = 65536;

// The partial file's size and its last bytes; size 0 when there is none to continue.
TResumePoint ResumePoint(const fs::path& part)
{
    TResumePoint point;
    std::error_code ec;
    const auto size = fs::file_size(part, ec);
    if (ec || size == 0)
        return point;
    std::ifstream in(part, std::ios::binary);
    const uint64_t tail = std::min<uint64_t>(size, kResumeOverlap);
    point.Tail.resize(tail);
    in.seekg(static_cast<std::streamoff>(size - tail));
    if (in.read(point.Tail.data(), static_cast<std::streamsize>(tail)))
        point.Size = size;
    else
        point.Tail.clear();
    return point;
}

} // namespace

TDownloadThread::TDownloadThread(TDownloadlist& list, std::function<std::string()> folder, TInetLimits limits)
    : MaxBytes(limits.DownloadCap), List(list), Folder(std::move(folder)), Limits(limits)
{
    List.OnAdd = [this] { Nudge(); };
}

TDownloadThread::~TDownloadThread()
{
    Terminate();
    List.OnAdd = nullptr;
}

void TDownloadThread::Nudge()
{
    {
        std::lock_guard lock(Mutex);
        Nudged = true;
    }
    Wake.notify_all();
}

void TDownloadThread::Start()
{
    if (Worker.joinable())
        return;
    Terminated = false;
    Worker = std::thread([this] {
        while (!Terminated.load()) {
            const bool worked = Step();
            // An empty queue is looked at again when a request is queued (Nudge), or after
            // a second at the latest; Terminate ends any wait.
            std::unique_lock lock(Mutex);
            Wake.wait_for(lock, std::chrono::milliseconds(worked ? 100 : 1000),
                          [this] { return Terminated.load() || Nudged; });
            Nudged = false;
        }
    });
}

void TDownloadThread::Terminate()
{
    {
        std::lock_guard lock(Mutex);
        Terminated = true;
        Cancel = true;
    }
    Wake.notify_all();
    if (Worker.joinable())
        Worker.join();
}

std::string TDownloadThread::CurrentRequest() const
{
    std::lock_guard lock(Mutex);
    return Current;
}

std::string TDownloadThread::SavedFile() const
{
    std::lock_guard lock(Mutex);
    return Saved;
}

void TDownloadThread::CancelIfCurrent(const std::string& request)
{
    std::lock_guard lock(Mutex);
    if (!Current.empty() && Current == request)
        Cancel = true;
}

void TDownloadThread::SetCurrent(std::string request, bool clearCancel)
{
    std::lock_guard lock(Mutex);
    Current = std::move(request);
    if (clearCancel)
        Cancel = Terminated.load();
}

bool TDownloadThread::Step()
{
    Progress = 0;
    SetCurrent({});
    const auto item = List.FirstPending();
    if (!item)
        return false;
    // Cleared as the request is published: a cancel sent on finding the published request
    // removed must hold; so does a Terminate that came first.
    SetCurrent(item->Request, true);
    ++List.ChangeCount;
    const TDownloadRequest req = TDownloadRequest::Split(item->Request);
    const bool download = req.Url.find("://") != std::string::npos && req.SafeName();
    const TOutcome outcome = download ? Save(req) : TOutcome::Failed;
    if (outcome != TOutcome::Interrupted)
        List.MarkOutcome(item->Serial, outcome == TOutcome::Failed);
    SetCurrent({});
    ++List.ChangeCount;
    return true;
}

TDownloadThread::TOutcome TDownloadThread::Save(const TDownloadRequest& request)
{
    const fs::path target = fs::path(Folder()) / request.RelativeName;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (!fs::is_directory(target.parent_path(), ec))
        return TOutcome::Failed;
    return Download(request.Url, target);
}

// Streams into a hidden partial file beside the target, continuing one that a stopped run
// left, then publishes it under the target's name.
TDownloadThread::TOutcome TDownloadThread::Download(const std::string& url, const fs::path& target)
{
    std::string partName = target.filename().string();
    partName.insert(0, 1, '.');
    partName += ".part";
    const fs::path part = target.parent_path() / partName;
    const TResumePoint resume = ResumePoint(part);
    TInetLimits limits = Limits;
    limits.DownloadCap = MaxBytes.load();
    std::error_code ec;
    bool ok = false;
    {
        const auto mode = std::ios::binary | std::ios::in | std::ios::out;
        std::fstream out(part, resume.Size > 0 ? mode : mode | std::ios::trunc);
        ok = out && InetDownloadWithProgress(out, url, Progress, Cancel, limits, resume) && out.flush();
        if (ok) {
            const auto end = out.tellp();
            out.close();
            fs::resize_file(part, static_cast<uintmax_t>(end), ec);
            ok = end >= 0 && !ec;
        }
    }
    if (ok && !Cancel && Publish(part, target))
        return TOutcome::Done;
    if (Terminated)
        return TOutcome::Interrupted;
    fs::remove(part, ec);
    return TOutcome::Failed;
}

// Gives the partial file the target's name, or the name followed by "_1", "_2" … when a
// file of that name appeared meanwhile.
bool TDownloadThread::Publish(const fs::path& part, const fs::path& target)
{
    std::error_code ec;
    fs::path name = target;
    for (int n = 1; fs::exists(name, ec); ++n)
        name = target.parent_path() / (target.stem().string() + "_" + std::to_string(n) + target.extension().string());
    if (ec)
        return false;
    // A hard link fails instead of replacing a file that appeared in between.
    fs::create_hard_link(part, name, ec);
    if (ec)
        fs::copy_file(part, name, fs::copy_options::none, ec);
    if (ec)
        return false;
    fs::remove(part, ec);
    std::lock_guard lock(Mutex);
    Saved = name.string();
    return true;
}

} // namespace marlix
