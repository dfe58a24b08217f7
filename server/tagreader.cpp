#include "server/tagreader.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <filesystem>

namespace marlix {

namespace fs = std::filesystem;

namespace {

std::string Tag(AVFormatContext* f, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(f->metadata, key, nullptr, 0);
    for (unsigned i = 0; !e && i < f->nb_streams; ++i)
        e = av_dict_get(f->streams[i]->metadata, key, nullptr, 0);
    return e && e->value ? e->value : "";
}

bool IsAudioName(const fs::path& p)
{
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* known : {".mp3", ".wav", ".flac", ".ogg", ".opus", ".m4a", ".aac", ".mpg", ".mid", ".wma"})
        if (ext == known)
            return true;
    return false;
}

} // namespace

std::optional<TCatalogueTrack> ReadTrackTags(const std::string& file)
{
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, file.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    if (avformat_find_stream_info(f, nullptr) < 0) {
        avformat_close_input(&f);
        return std::nullopt;
    }
    TCatalogueTrack t;
    t.Location = fs::absolute(file).lexically_normal().string();
    t.Id = TCatalogue::IdFor(t.Location);
    t.Title = Tag(f, "title");
    if (t.Title.empty())
        t.Title = fs::path(file).stem().string();
    t.Artist = Tag(f, "artist");
    t.Genre = Tag(f, "genre");
    t.Date = Tag(f, "date");
    avformat_close_input(&f);
    return t;
}

std::vector<TCatalogueTrack> ReadFolderTags(const std::string& folder, std::vector<std::string>& skipped)
{
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec)
        return {};
    std::vector<fs::path> files; // named through `folder` as given, so their ids stay as they were
    // Links are not followed into folders, and an entry that cannot be examined (a link
    // that loops or leads nowhere) is passed over, not allowed to end the walk.
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code entry;
        if (!IsAudioName(it->path()))
            continue;
        if (it->is_regular_file(entry))
            files.push_back(it->path());
        else if (entry)
            skipped.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    std::vector<TCatalogueTrack> tracks;
    const std::string inside = root.string() + (root.string().ends_with('/') ? "" : "/");
    for (const auto& p : files) {
        std::error_code real;
        auto t = fs::canonical(p, real).string().starts_with(inside) ? ReadTrackTags(p.string()) : std::nullopt;
        if (t)
            tracks.push_back(std::move(*t));
        else
            skipped.push_back(p.string());
    }
    return tracks;
}

} // namespace marlix
