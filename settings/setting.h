#pragma once
#include "base/atomicvalue.h"
#include "dsp/matrixrouting.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace marlix {

class TIniFile;

// The small setting records stored one per INI section. The constructors hold the
// defaults; Load passes each field's current value as the default of its key.

// Three-character channel names, blanks included.
inline constexpr std::string_view ChannelNames = "L  R  C  SW SL SR SCLSCR";
std::string ChannelName(int channel);

// The user's music folder with a trailing "/": XDG_MUSIC_DIR from user-dirs.dirs
// ($XDG_CONFIG_HOME, else ~/.config), else $HOME/Music.
std::string MusicFolder();

class TSettingOutput {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    int nDriverType = 0; // 0 wave-out, 1 ASIO
    std::array<bool, 7> bFreq{true, true, true, false, false, false, false};
    std::array<std::string, 2> szChName{ChannelName(0), ChannelName(1)};
    // Read by the device callback while the windows edit them.
    std::array<TAtomicValue<double>, 2> fLevel{0.0, 0.0}; // tenths of a dB
    std::array<TAtomicValue<bool>, 2> bInvPhase{false, false};
    std::array<TAtomicValue<double>, 2> fDelay{0.0, 0.0}; // ms
};

class TSettingMME {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    // -1 is the system's default output (ALSA's "default": PipeWire or PulseAudio on a
    // desktop), which a fresh program folder plays on; 0 … the PCMs of ALSA's list.
    int Device0 = -1;
    int nBufferSize = 2048;
    int nBufferNum = 4;
};

class TSettingASIO {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    std::string DriverName;
    int ChAssign0 = 0;
    int Device0 = 0;
    int InDevice0 = 0;
};

class TSettingFilter {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    // The equaliser's length is 2^k or 2^k - 1 taps: any other count samples the curve
    // on the wrong grid and cuts the top of the band. Other counts round up to the next
    // 2^k - 1; the count is at most MaxEQTaps.
    static constexpr int MaxEQTaps = (1 << 20) - 1;
    static int ValidEQTaps(int taps);

    int Bufms = 500;
    TAtomicValue<int> EQFilterTaps = 1023; // the filter thread reads it when it builds the EQ stage
    int HSCMode = 2;
};

class TSettingMatrix : public TMatrixRouting {
public:
    TSettingMatrix() { Reset(); }
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);
    // The identity: input n to output n, level 0, not inverted.
    void Reset();
};

class TSettingReSampler {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    bool bUpSampling = false;
    int nUpFreq = 96000;
    bool bRational = true;
    bool bFixFreq = false;
    int nFixFreq = 96000;
    bool bDirect3x = true;
    bool bDirect5x = false;
    bool bDirect7x = false;
    int nITaps = 1023;
    int IWindow = 4;
    int nDTaps = 1023;
    int DWindow = 4;
    // Read by the filter thread on every step.
    TAtomicValue<int> RFType = 1;
    TAtomicValue<int> nRFFilterTaps = 11;
    bool bAutoTapLen = true;
    int ICutoff = -6; // edited, never saved
};

class TSettingFunction {
public:
    // The fixed paths are made from the program folder (with its trailing "/"); the
    // default constructor uses ProgramFolder().
    TSettingFunction();
    explicit TSettingFunction(const std::string& programFolder);
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    bool bDownload = false;
    bool bDownloadTonkaraOnly = false;
    std::string DownloadPath;
    int nMaxDownloadMB = 2048; // a larger download fails
    TAtomicValue<int> BGMVolume = -18; // read by the device callback
    std::string BGMPlaylist;
    bool bSaveHistory = true;
    bool bSavePlaylist = true;

    std::string FavoritePath;     // program folder + "favorites/"
    std::string SearchResultPath; // program folder + "current.ini"
    std::string TopPagePath;      // program folder + "top.html"
};

class TSettingOperation {
public:
    enum TShortCutIndex {
        scRew, scStop, scPause, scPlay, scFF, scVolUp, scVolDown, scPlay1, scRepeat,
        scRepeat1, scRandom, scBGM, scEFX, scConv, scMatrix, scEQ, scHSC, ShortCutCount
    };
    // Keys in the order they are written and read.
    static constexpr std::array<const char*, ShortCutCount> ShortCutKeys{
        "ShortCut_Rew", "ShortCut_Stop", "ShortCut_Pause", "ShortCut_Play", "ShortCut_FF",
        "ShortCut_VolUp", "ShortCut_VolDown", "ShortCut_Play1", "ShortCut_Repeat",
        "ShortCut_Repeat1", "ShortCut_Random", "ShortCut_BGM", "ShortCut_EFX", "ShortCut_Conv",
        "ShortCut_Matrix", "ShortCut_EQ", "ShortCut_HSC"};

    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    bool bMouseScroll = false;
    bool bPlayAtOpen = true;
    int nBrowserType = 1;
    bool bClickRoot = false;
    bool bJukeBoxMode = false;
    bool bBrowserSkipSubFolder = true;
    std::string BrowseExts = "wav,mp3,m3u,mxp";
    bool bSpectrumVertical = true;
    // Key code in the low byte, + 0x2000 Shift, + 0x4000 Ctrl, + 0x8000 Alt.
    std::array<uint16_t, ShortCutCount> ShortCut{113, 114, 115, 116, 117, 16469, 16452, 16433, 16466,
                                                 16464, 16462, 16450, 16472, 16451, 16461, 16453, 16456};
    bool bCheckNew = true;
};

class TSettingView {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    bool bBrowserAlphaBlend = false;
    int nBrowserAlphaBlendValue = 50;
    bool bBrowserSmoothScroll = true;
    std::string BrowserFontName;
    int nBrowserFontSize = 9;
    std::string WallPaper;
    int nSpectrumDB = 96;
    bool bSpectrumLog = true;
};

class TSettingMeasure {
public:
    void Save(TIniFile& ini, const std::string& section) const;
    void Load(const TIniFile& ini, const std::string& section);

    int MeasureLen = 32768;
    int MeasureMethod = 0;
    int MeasureSlope = -3;
    int MeasureAmplitude = -6;
    int MeasureFreq = 48000;
    int MeasureAddNum = 8;
};

} // namespace marlix
