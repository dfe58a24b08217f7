#include "online/downloadthread.h"

#include "online/downloadlist.h"

#include <chrono>
#include <filesystem>
#include <fstream>

namespace marlix {

namespace fs = std::filesystem;

TDownloadThread::TDownloadThread(TDownloadlist& list, std::function<std::string()> folder, TInetLimits limits)
    : List(list), Folder(std::move(folder)), Limits(limits)
{
}

TDownloadThread::~TDownloadThread()
{
    Terminate();
}

void TDownloadThread::Start()
{
    if (Worker.joinable())
        return;
    Terminated = false;
    Worker = std::thread([this] {
        while (!Terminated.load()) {
            Step();
            for (int i = 0; i < 10 && !Terminated.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

void TDownloadThread::Terminate()
{
    Terminated = true;
    Cancel = true;
    if (Worker.joinable())
        Worker.join();
}

std::string TDownloadThread::CurrentRequest() const
{
    std::lock_guard lock(Mutex);
    return Current;
}

void TDownloadThread::SetCurrent(std::string request)
{
    std::lock_guard lock(Mutex);
    Current = std::move(request);
}

bool TDownloadThread::Step()
{
    Progress = 0;
    SetCurrent({});
    const auto item = List.FirstPending();
    if (!item)
        return false;
    SetCurrent(item->Request);
    ++List.ChangeCount;
    const TDownloadRequest req = TDownloadRequest::Split(item->Request);
    bool failed = true;
    if (req.Url.find("://") != std::string::npos && req.SafeName()) {
        const fs::path target = fs::path(Folder()) / req.RelativeName;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (fs::is_directory(target.parent_path()))
            failed = !Download(req.Url, target.string());
    }
    List.MarkOutcome(item->Serial, failed);
    SetCurrent({});
    ++List.ChangeCount;
    return true;
}

// Streams into a hidden partial file beside the target, then gives it the target's name,
// or the name followed by "_1", "_2" … when a file of that name appeared meanwhile.
bool TDownloadThread::Download(const std::string& url, const std::string& target)
{
    const fs::path t(target);
    const fs::path part = t.parent_path() / ("." + t.filename().string() + ".part");
    std::error_code ec;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        Cancel = false;
        if (!out || !InetDownloadWithProgress(out, url, Progress, Cancel, Limits) || !out.flush()) {
            out.close();
            fs::remove(part, ec);
            return false;
        }
    }
    fs::path name = t;
    for (int n = 1; fs::exists(name); ++n)
        name = t.parent_path() / (t.stem().string() + "_" + std::to_string(n) + t.extension().string());
    // A hard link fails instead of replacing a file that appeared in between.
    fs::create_hard_link(part, name, ec);
    if (ec)
        fs::copy_file(part, name, fs::copy_options::none, ec);
    const bool ok = !ec;
    fs::remove(part, ec);
    return ok;
}

} // namespace marlix
