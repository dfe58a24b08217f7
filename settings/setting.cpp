#include "settings/setting.h"

#include "base/programfolder.h"
#include "settings/inifile.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>
#include <utility>

namespace marlix {
namespace {

// Visitors that write or read one key; the records list their keys once, in file order,
// and hand each to a visitor.
struct TWriter {
    TIniFile& ini;
    const std::string& section;
    void operator()(const std::string& key, const int& v) { ini.WriteInteger(section, key, v); }
    void operator()(const std::string& key, const uint16_t& v) { ini.WriteInteger(section, key, v); }
    void operator()(const std::string& key, const bool& v) { ini.WriteBool(section, key, v); }
    void operator()(const std::string& key, const double& v) { ini.WriteFloat(section, key, v); }
    void operator()(const std::string& key, const std::string& v) { ini.WriteString(section, key, v); }
    template <class T> void operator()(const std::string& key, const TAtomicValue<T>& v) { (*this)(key, v.Load()); }
};

struct TReader {
    const TIniFile& ini;
    const std::string& section;
    void operator()(const std::string& key, int& v) { v = ini.ReadInteger(section, key, v); }
    void operator()(const std::string& key, uint16_t& v) { v = static_cast<uint16_t>(ini.ReadInteger(section, key, v)); }
    void operator()(const std::string& key, bool& v) { v = ini.ReadBool(section, key, v); }
    void operator()(const std::string& key, double& v) { v = ini.ReadFloat(section, key, v); }
    // An empty value leaves the default, as for the other types.
    void operator()(const std::string& key, std::string& v)
    {
        if (std::string read = ini.ReadString(section, key, v); !read.empty())
            v = std::move(read);
    }
    template <class T> void operator()(const std::string& key, TAtomicValue<T>& v)
    {
        T value = v.Load();
        (*this)(key, value);
        v.Store(value);
    }
};

std::string Key(const char* name, size_t i)
{
    return name + std::to_string(i);
}

template <class V> void Visit(TSettingOutput& s, V& v)
{
    v("nDriverType", s.nDriverType);
    for (size_t i = 0; i < s.bFreq.size(); ++i)
        v(Key("bFreq", i), s.bFreq[i]);
    for (size_t i = 0; i < 2; ++i)
        v(Key("szChName", i), s.szChName[i]);
    for (size_t i = 0; i < 2; ++i)
        v(Key("fLevel", i), s.fLevel[i]);
    for (size_t i = 0; i < 2; ++i)
        v(Key("bInvPhase", i), s.bInvPhase[i]);
    for (size_t i = 0; i < 2; ++i)
        v(Key("fDelay", i), s.fDelay[i]);
}

template <class V> void Visit(TSettingMME& s, V& v)
{
    v("Device0", s.Device0);
    v("nBufferSize", s.nBufferSize);
    v("nBufferNum", s.nBufferNum);
}

template <class V> void Visit(TSettingASIO& s, V& v)
{
    v("DriverName", s.DriverName);
    v("ChAssign0", s.ChAssign0);
    v("Device0", s.Device0);
    v("InDevice0", s.InDevice0);
}

template <class V> void Visit(TSettingFilter& s, V& v)
{
    v("Bufms", s.Bufms);
    v("EQFilterTaps", s.EQFilterTaps);
    v("HSCMode", s.HSCMode);
}

template <class V> void Visit(TSettingMatrix& s, V& v)
{
    const auto each = [&](const char* name, auto& field) {
        for (size_t n = 0; n < 2; ++n)
            for (size_t m = 0; m < 2; ++m)
                v(name + std::to_string(n) + "_" + std::to_string(m), field[n][m]);
    };
    each("bONOFF", s.bONOFF);
    each("bInv", s.bInv);
    each("fLevel", s.fLevel);
}

template <class V> void Visit(TSettingReSampler& s, V& v)
{
    v("bUpSampling", s.bUpSampling);
    v("nUpFreq", s.nUpFreq);
    v("bRational", s.bRational);
    v("bFixFreq", s.bFixFreq);
    v("nFixFreq", s.nFixFreq);
    v("bDirect3x", s.bDirect3x);
    v("bDirect5x", s.bDirect5x);
    v("bDirect7x", s.bDirect7x);
    v("nITaps", s.nITaps);
    v("IWindow", s.IWindow);
    v("nDTaps", s.nDTaps);
    v("DWindow", s.DWindow);
    v("RFType", s.RFType);
    v("nRFFilterTaps", s.nRFFilterTaps);
    v("bAutoTapLen", s.bAutoTapLen);
}

template <class V> void Visit(TSettingFunction& s, V& v)
{
    v("bDownload", s.bDownload);
    v("bDownloadTonkaraOnly", s.bDownloadTonkaraOnly);
    v("DownloadPath", s.DownloadPath);
    v("nMaxDownloadMB", s.nMaxDownloadMB);
    v("BGMVolume", s.BGMVolume);
    v("BGMPlaylist", s.BGMPlaylist);
    v("bSaveHistory", s.bSaveHistory);
    v("bSavePlaylist", s.bSavePlaylist);
}

template <class V> void Visit(TSettingOperation& s, V& v)
{
    v("bMouseScroll", s.bMouseScroll);
    v("bPlayAtOpen", s.bPlayAtOpen);
    v("nBrowserType", s.nBrowserType);
    v("bClickRoot", s.bClickRoot);
    v("bJukeBoxMode", s.bJukeBoxMode);
    v("bBrowserSkipSubFolder", s.bBrowserSkipSubFolder);
    v("BrowseExts", s.BrowseExts);
    v("bSpectrumVertical", s.bSpectrumVertical);
    for (size_t i = 0; i < s.ShortCut.size(); ++i)
        v(TSettingOperation::ShortCutKeys[i], s.ShortCut[i]);
    v("bCheckNew", s.bCheckNew);
}

template <class V> void Visit(TSettingView& s, V& v)
{
    v("bBrowserAlphaBlend", s.bBrowserAlphaBlend);
    v("nBrowserAlphaBlendValue", s.nBrowserAlphaBlendValue);
    v("bBrowserSmoothScroll", s.bBrowserSmoothScroll);
    v("BrowserFontName", s.BrowserFontName);
    v("nBrowserFontSize", s.nBrowserFontSize);
    v("WallPaper", s.WallPaper);
    v("nSpectrumDB", s.nSpectrumDB);
    v("bSpectrumLog", s.bSpectrumLog);
}

template <class V> void Visit(TSettingMeasure& s, V& v)
{
    v("MeasureLen", s.MeasureLen);
    v("MeasureMethod", s.MeasureMethod);
    v("MeasureSlope", s.MeasureSlope);
    v("MeasureAmplitude", s.MeasureAmplitude);
    v("MeasureFreq", s.MeasureFreq);
    v("MeasureAddNum", s.MeasureAddNum);
}

template <class R> void SaveRecord(const R& record, TIniFile& ini, const std::string& section)
{
    TWriter w{ini, section};
    Visit(const_cast<R&>(record), w); // the writer only reads the fields
}

template <class R> void LoadRecord(R& record, const TIniFile& ini, const std::string& section)
{
    TReader r{ini, section};
    Visit(record, r);
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// The value of XDG_MUSIC_DIR in a user-dirs.dirs file, "$HOME" expanded; empty when absent.
std::string ReadXdgMusicDir(const std::string& file, const std::string& home)
{
    std::ifstream in(file);
    std::string line;
    const std::string_view prefix = "XDG_MUSIC_DIR=";
    while (std::getline(in, line)) {
        std::string_view v(line);
        v.remove_prefix(std::min(v.find_first_not_of(" \t"), v.size()));
        if (!v.starts_with(prefix))
            continue;
        v.remove_prefix(prefix.size());
        if (v.size() >= 2 && v.front() == '"' && v.find('"', 1) != std::string_view::npos)
            v = v.substr(1, v.find('"', 1) - 1);
        if (v.starts_with("$HOME"))
            return home + std::string(v.substr(5));
        if (v.starts_with('/'))
            return std::string(v);
    }
    return {};
}

} // namespace

std::string ChannelName(int channel)
{
    if (channel < 0 || static_cast<size_t>(channel) * 3 >= ChannelNames.size())
        return {};
    return std::string(ChannelNames.substr(static_cast<size_t>(channel) * 3, 3));
}

std::string MusicFolder()
{
    const std::string home = HomeFolder();
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configHome = (config && *config) ? config : home + "/.config";
    std::string folder = ReadXdgMusicDir(configHome + "/user-dirs.dirs", home);
    if (folder.empty())
        folder = home + "/Music";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder + "/";
}

void TSettingOutput::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingOutput::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingMME::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingMME::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingASIO::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingASIO::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingFilter::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingFilter::Load(const TIniFile& ini, const std::string& section)
{
    const int taps = EQFilterTaps;
    LoadRecord(*this, ini, section);
    EQFilterTaps = EQFilterTaps < 1 ? taps : ValidEQTaps(EQFilterTaps);
}

int TSettingFilter::ValidEQTaps(int taps)
{
    const auto n = static_cast<unsigned>(std::clamp(taps, 1, MaxEQTaps));
    if (std::has_single_bit(n) || std::has_single_bit(n + 1))
        return static_cast<int>(n);
    return static_cast<int>(std::bit_ceil(n) - 1);
}
void TSettingMatrix::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingMatrix::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingReSampler::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingReSampler::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingFunction::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingFunction::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingOperation::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingOperation::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingView::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingView::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }
void TSettingMeasure::Save(TIniFile& ini, const std::string& section) const { SaveRecord(*this, ini, section); }
void TSettingMeasure::Load(const TIniFile& ini, const std::string& section) { LoadRecord(*this, ini, section); }

void TSettingMatrix::Reset()
{
    for (int n = 0; n < 2; ++n)
        for (int m = 0; m < 2; ++m) {
            bONOFF[n][m] = n == m;
            bInv[n][m] = false;
            fLevel[n][m] = 0;
        }
}

TSettingFunction::TSettingFunction() : TSettingFunction(ProgramFolder()) {}

TSettingFunction::TSettingFunction(const std::string& programFolder)
    : DownloadPath(MusicFolder()),
      FavoritePath(programFolder + "favorites/"),
      SearchResultPath(programFolder + "current.ini"),
      TopPagePath(programFolder + "top.html")
{
}

} // namespace marlix
