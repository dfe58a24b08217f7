#include "settings/inifile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marlix {
namespace {

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return Lower(x) == Lower(y);
    });
}

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Quotes a value whose outer blanks or outer quotes would otherwise be lost on reading.
std::string EncodeValue(std::string_view v)
{
    const bool quote = !v.empty() &&
        (IsBlank(v.front()) || IsBlank(v.back()) || (v.size() >= 2 && v.front() == '"' && v.back() == '"'));
    if (!quote)
        return std::string(v);
    std::string quoted;
    quoted.reserve(v.size() + 2);
    quoted += '"';
    quoted += v;
    quoted += '"';
    return quoted;
}

std::string DecodeValue(std::string_view v)
{
    v = Trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool ValidKey(std::string_view key)
{
    return !key.empty() && key.find('=') == std::string_view::npos && !HasLineBreak(key) &&
        key.front() != '[' && key.front() != ';' && key.front() != '#';
}

bool ValidSection(std::string_view section)
{
    return section.find(']') == std::string_view::npos && !HasLineBreak(section);
}

bool WriteAllFd(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Creates a new, empty temporary file beside `target`; returns its descriptor or -1.
int CreateTempBeside(const std::string& target, std::string& tmpName)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmpName = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool ParseInteger(std::string_view text, int& value)
{
    std::string_view t = Trim(text);
    const bool negative = !t.empty() && t.front() == '-';
    if (!t.empty() && (t.front() == '-' || t.front() == '+'))
        t.remove_prefix(1);
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    if (hex)
        t.remove_prefix(2);
    if (t.empty())
        return false;
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, hex ? 16 : 10);
    if (ec != std::errc() || end != t.data() + t.size())
        return false;
    if (hex) {
        if (magnitude > UINT32_MAX)
            return false;
        const auto bits = static_cast<uint32_t>(negative ? 0u - static_cast<uint32_t>(magnitude) : magnitude);
        value = static_cast<int32_t>(bits);
        return true;
    }
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit)
        return false;
    value = static_cast<int>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
    return true;
}

bool ParseFloat(std::string_view text, double& value)
{
    std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '+') {
        t.remove_prefix(1);
        if (!t.empty() && t.front() == '-')
            return false;
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

std::string FormatFloat(double value)
{
    // "%.15g": 15 significant digits with trailing zeros dropped, which for any value that
    // has an exact text of at most 15 digits is that shortest text.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return std::string(buf, res.ptr);
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {
        const auto resolved = fs::canonical(path, ec);
        if (!ec)
            target = resolved.string();
    }
    std::string tmp;
    const int fd = CreateTempBeside(target, tmp);
    if (fd < 0)
        return false;
    struct stat old{};
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);
    bool ok = WriteAllFd(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), target.c_str()) == 0) {
        SyncFolder(fs::path(target).parent_path());
        return true;
    }
    ::unlink(tmp.c_str());
    return false;
}

TIniFile::TIniFile(std::string fileName) : Path(std::move(fileName))
{
    std::vector<uint8_t> bytes;
    (void)ReadFileBytes(Path, bytes); // missing or unreadable: an empty file
    Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void TIniFile::Parse(std::string_view text)
{
    Sections.assign(1, TSection{});
    if (text.starts_with("\xEF\xBB\xBF")) {
        Bom = true;
        text.remove_prefix(3);
    }
    bool firstBreak = true;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (nl != std::string_view::npos && firstBreak) {
            Crlf = line.ends_with('\r');
            firstBreak = false;
        }
        while (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view t = Trim(line);
        if (t.starts_with('[') && t.find(']') != std::string_view::npos) {
            TSection s;
            s.name = Trim(t.substr(1, t.find(']') - 1));
            s.hasHeader = true;
            s.header = line;
            Sections.push_back(std::move(s));
            continue;
        }
        TLine l{std::string(line), {}};
        const auto eq = line.find('=');
        if (!t.empty() && t.front() != ';' && t.front() != '#' && eq != std::string_view::npos)
            l.key = Trim(line.substr(0, eq));
        Sections.back().lines.push_back(std::move(l));
    }
}

const TIniFile::TSection* TIniFile::Find(std::string_view section) const
{
    section = Trim(section);
    for (const auto& s : Sections)
        if (s.hasHeader && SameName(s.name, section))
            return &s;
    return nullptr;
}

TIniFile::TSection* TIniFile::Find(std::string_view section)
{
    return const_cast<TSection*>(std::as_const(*this).Find(section));
}

template <class Section> auto* TIniFile::FindKey(Section& s, std::string_view key)
{
    key = Trim(key);
    decltype(&s.lines.front()) found = nullptr;
    for (auto& l : s.lines)
        if (!l.key.empty() && SameName(l.key, key)) {
            found = &l;
            break;
        }
    return found;
}

std::vector<std::string> TIniFile::ReadSections() const
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const auto& s : Sections)
        if (s.hasHeader && seen.insert(Folded(s.name)).second)
            names.push_back(s.name);
    return names;
}

std::vector<std::string> TIniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    std::unordered_set<std::string> seen;
    if (const TSection* s = Find(section))
        for (const auto& l : s->lines)
            if (!l.key.empty() && seen.insert(Folded(l.key)).second)
                keys.push_back(l.key);
    return keys;
}

bool TIniFile::SectionExists(std::string_view section) const
{
    return Find(section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    const TSection* s = Find(section);
    return s && FindKey(*s, key);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) const
{
    const TSection* s = Find(section);
    const TLine* l = s ? FindKey(*s, key) : nullptr;
    if (!l)
        return def;
    return DecodeValue(std::string_view(l->text).substr(l->text.find('=') + 1));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    int v = def;
    return ParseInteger(ReadString(section, key, {}), v) ? v : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const
{
    double v = def;
    return ParseFloat(ReadString(section, key, {}), v) ? v : def;
}

TIniFile::TSection& TIniFile::AddSection(std::string_view section)
{
    TSection& last = Sections.back();
    const std::string_view lastText = !last.lines.empty() ? std::string_view(last.lines.back().text)
                                                          : std::string_view(last.header);
    if (!Trim(lastText).empty())
        last.lines.push_back({});
    TSection s;
    s.name = Trim(section);
    s.hasHeader = true;
    s.header = "[" + s.name + "]";
    Sections.push_back(std::move(s));
    return Sections.back();
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    key = Trim(key);
    if (!ValidSection(section) || !ValidKey(key) || HasLineBreak(value))
        return false;
    TSection* s = Find(section);
    if (!s)
        s = &AddSection(section);
    if (TLine* line = FindKey(*s, key)) {
        line->text = line->text.substr(0, line->text.find('=') + 1) + EncodeValue(value);
        return true;
    }
    auto lastKey = std::find_if(s->lines.rbegin(), s->lines.rend(), [](const TLine& l) { return !l.key.empty(); });
    s->lines.insert(lastKey.base(), TLine{std::string(key) + "=" + EncodeValue(value), std::string(key)});
    return true;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::WriteFloat(std::string_view section, std::string_view key, double value)
{
    return WriteString(section, key, FormatFloat(value));
}

void TIniFile::EraseSection(std::string_view section)
{
    section = Trim(section);
    std::erase_if(Sections, [&](const TSection& s) { return s.hasHeader && SameName(s.name, section); });
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    key = Trim(key);
    if (TSection* s = Find(section))
        std::erase_if(s->lines, [&](const TLine& l) { return !l.key.empty() && SameName(l.key, key); });
}

std::string TIniFile::Text() const
{
    const char* eol = Crlf ? "\r\n" : "\n";
    std::string out = Bom ? "\xEF\xBB\xBF" : "";
    for (const auto& s : Sections) {
        if (s.hasHeader)
            out += s.header + eol;
        for (const auto& l : s.lines)
            out += l.text + eol;
    }
    return out;
}

bool TIniFile::UpdateFile() const
{
    return WriteFileAtomic(Path, Text());
}

bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    // A folder opens as a stream but throws on the first read.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // One read of the whole size: the convolver's responses run to megabytes.
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return false;
    bytes.resize(size);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        bytes.clear();
        return false;
    }
    return true;
}

} // namespace marlix
