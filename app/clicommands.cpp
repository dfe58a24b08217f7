#include "app/clicommands.h"

#include "dsp/fft.h"
#include "dsp/pluginhost.h"
#include "engine/decoder.h"
#include "base/mainthread.h"
#include "engine/asiothread.h"
#include "base/programfolder.h"
#include "engine/waveoutput.h"
#include "measure/measuresession.h"
#include "platform/waveout/alsawaveout.h"
#include "online/downloadlist.h"
#include "online/downloadthread.h"
#include "online/librarycontrol.h"
#include "online/librarysearch.h"
#include "online/onlinelibrary.h"
#include "online/searchconditions.h"
#include "player/pending.h"
#include "player/playbackcontrol.h"
#include "player/playlist.h"
#include "player/offlinerender.h"
#include "player/playerstate.h"
#include "player/playersession.h"
#include "settings/inifile.h"
#include "settings/settings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <unistd.h>

namespace marlix::cli {
namespace {

// What every command shares: this thread is the main thread, the settings and the
// player state come from the program folder's "setting.ini", and the optional
// transform library from the program folder. Commands that process sound also load the
// effect plug-ins of "efxsetting.bin".
void Prepare(bool effects)
{
    TMainThread::Instance().SetMainThread(std::this_thread::get_id());
    const std::string folder = ProgramFolder();
    TIniFile ini(folder + "setting.ini");
    if (effects)
        Settings().EFX.SetHost(&PluginHost());
    Settings().Load(ini, folder);
    PlayerState().Load(ini);
    // Without the module the built-in transform runs.
    (void)LoadFFTLibrary(folder + "nsp.so");
}

int Usage(const char* text)
{
    std::fprintf(stderr, "usage: marlixaudio-cli %s\n", text);
    return 2;
}

bool ParseNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(value);
}

std::atomic<bool> gInterrupted{false};

void OnSignal(int)
{
    gInterrupted = true;
}

// Length of the UTF-8 character that `c` starts, 0 for a byte that starts none.
size_t Utf8Length(unsigned char c)
{
    return c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
}

// The character at `at` (of `n` bytes, all present), or -1 when it is malformed or
// written longer than it needs.
long Utf8Char(const std::string& text, size_t at, size_t n)
{
    static const long kMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static const long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    long c = static_cast<unsigned char>(text[at]) & kMask[n];
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(text[at + k]);
        if ((b & 0xC0) != 0x80)
            return -1;
        c = (c << 6) | (b & 0x3F);
    }
    return c >= kLeast[n] && c <= 0x10FFFF ? c : -1;
}

// Text from a server as it may reach a terminal: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 become "?", so no escape sequence gets through.
std::string Printable(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(static_cast<unsigned char>(text[i]));
        const long c = n > 0 && i + n <= text.size() ? Utf8Char(text, i, n) : -1;
        if (c >= 0x20 && (c < 0x7F || c >= 0xA0))
            out.append(text, i, n);
        else
            out += '?';
        i += c < 0 ? 1 : n;
    }
    return out;
}

std::string Clock(double ms)
{
    const long s = ms > 0 ? static_cast<long>(ms / 1000) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Prints the track that plays, its progress, and every entry that failed to open.
class TReporter {
public:
    void Update(TFo_Decoder& decoder, const TPlaylist& playlist)
    {
        for (const TPlayItem& item : playlist.Items())
            if (item.Failed && Failed.insert(item.Location()).second)
                std::fprintf(stderr, "marlixaudio-cli: cannot play %s\n", Printable(item.Location()).c_str());
        if (decoder.IsOpen && decoder.OpenCount != LastOpen) {
            LastOpen = decoder.OpenCount;
            ++Played;
            std::printf("playing: %s\n", Printable(decoder.FileName).c_str());
        }
        const auto now = std::chrono::steady_clock::now();
        if (decoder.IsOpen && now - LastPrint > std::chrono::seconds(1)) {
            LastPrint = now;
            std::printf("position: %s / %s\n", Clock(PlayerState().HeardMs.load()).c_str(),
                        Clock(decoder.GetLengthMs()).c_str());
        }
        std::fflush(stdout);
    }
    int Played = 0;
    std::set<std::string> Failed;

private:
    int LastOpen = -1;
    std::chrono::steady_clock::time_point LastPrint{};
};

} // namespace

namespace {

// One line on what became of the device, in the CLI's words.
std::string DeviceFailureText(const TDeviceFailure& failure)
{
    const std::string device = "'" + failure.Device + "'";
    std::string text;
    switch (failure.Problem) {
    case TDeviceProblem::NotFound: text = "cannot open the audio device " + device + ": no such device"; break;
    case TDeviceProblem::Busy: text = "cannot open the audio device " + device + ": it is busy"; break;
    case TDeviceProblem::FormatRefused: text = "the audio device " + device + " refuses the format"; break;
    case TDeviceProblem::DidNotStart: text = "cannot open the audio device " + device + ": its driver did not start"; break;
    case TDeviceProblem::Lost: text = "the audio device " + device + " was lost"; break;
    default: text = "cannot open the audio device " + device; break;
    }
    return failure.Detail.empty() ? text : text + " (" + failure.Detail + ")";
}

} // namespace

int Play(const std::vector<std::string>& args)
{
    std::vector<std::string> entries;
    std::string driver;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--driver" && i + 1 < args.size())
            driver = args[++i];
        else if (args[i].rfind("--", 0) == 0)
            return Usage("play [--driver mme|asio] [FILE|URL|M3U ...]");
        else
            entries.push_back(args[i]);
    }
    if (!driver.empty() && driver != "mme" && driver != "asio")
        return Usage("play [--driver mme|asio] [FILE|URL|M3U ...]");
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    TPlayerSession session(ProgramFolder(), Settings(), PlayerState(), PendingAdditions(), WaveOutput(),
                           &PluginHost(), TMainThread::Instance());
    session.Start(entries);
    // Library tracks played to their end are reported to the library.
    TDownloadlist downloads;
    TLibraryControl library(TLibraryEndpoints::FromEnvironment(), Settings().Function, downloads);
    session.Control.PlayedToEnd = [&library](const std::string& file) { library.PlayedToEnd(file); };
    if (!driver.empty())
        session.UseDriverForThisRun(driver == "asio" ? 1 : 0);
    // Files given here play at once, whatever "bPlayAtOpen" says.
    PlayerState().Command.Post("Play");

    const TPlaybackControl& control = session.Control;
    TReporter reporter;
    int reportedRate = 0;
    bool started = false;
    auto nextTick = std::chrono::steady_clock::now();
    while (!gInterrupted) {
        session.RunQueuedCalls();
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextTick) {
            nextTick = now + std::chrono::milliseconds(50);
            session.Tick();
            reporter.Update(session.Decoder, session.Playlist);
            if (control.Chain.Running() && control.Chain.InRate() != reportedRate) {
                reportedRate = control.Chain.InRate();
                std::printf("output: %d Hz, up-sampling factor %d\n", control.Chain.Plan().OutRate,
                            control.Chain.Plan().UpFactor);
            }
            started = started || PlayerState().OutputRunning;
            const bool idle = !PlayerState().OutputRunning && PlayerState().Command.Peek().empty() &&
                PendingAdditions().Empty() && !session.Loader.Busy();
            const int count = session.Playlist.Count();
            if (idle && (started || count == 0 || reporter.Failed.size() >= static_cast<size_t>(count)))
                break;
            if (control.LastFailure().Serial != 0 && !PlayerState().OutputRunning)
                break; // the device did not start, or went away: the player stopped
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Reports of tracks played to their end go out before the program ends, within the
    // post's own time limit.
    library.WaitReportsSent(std::chrono::seconds(10));
    const bool deviceFailed = control.LastFailure().Serial != 0;
    if (deviceFailed)
        std::fprintf(stderr, "marlixaudio-cli: %s\n", DeviceFailureText(control.LastFailure()).c_str());
    const bool proAudio = Settings().Output.nDriverType == 1;
    const TSaveReport saved = session.Shutdown();
    std::printf("under-runs: %lld\n",
                static_cast<long long>(proAudio ? ASIOUnderruns() : TAlsaWaveOut::Underruns()));
    for (const std::string& file : saved.Unwritten)
        std::fprintf(stderr, "marlixaudio-cli: cannot write %s\n", file.c_str());
    if (deviceFailed || (reporter.Played == 0 && !reporter.Failed.empty()))
        return 3;
    return saved.Ok() ? 0 : 5;
}

int Info(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return Usage("info FILE");
    Prepare(false);
    TFo_Decoder decoder;
    decoder.OpenSource(args[0]);
    if (!decoder.IsOpen) {
        std::fprintf(stderr, "marlixaudio-cli: cannot open %s\n", args[0].c_str());
        return 3;
    }
    std::printf("source: %s\n", decoder.SourceKind == TSourceKind::Wav ? "wav" : "library");
    std::printf("rate: %u\n", static_cast<unsigned>(decoder.Format.nSamplesPerSec));
    std::printf("channels: %u\n", static_cast<unsigned>(decoder.Format.nChannels));
    std::printf("bits: %u\n", static_cast<unsigned>(decoder.Format.wBitsPerSample));
    std::printf("length_ms: %lld\n", static_cast<long long>(std::llround(decoder.GetLengthMs())));
    decoder.CloseSource();
    return 0;
}

int Render(const std::vector<std::string>& args)
{
    const char* usage = "render [--bits 16|24|32] [--max-seconds S] INPUT... OUTPUT.wav";
    TRenderOptions options;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        double value = 0;
        if (args[i] == "--bits" && i + 1 < args.size() && ParseNumber(args[i + 1], value)) {
            options.Bits = static_cast<int>(value);
            ++i;
        } else if (args[i] == "--max-seconds" && i + 1 < args.size() && ParseNumber(args[i + 1], value) && value > 0) {
            options.MaxSeconds = value;
            ++i;
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage(usage);
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() < 2)
        return Usage(usage);
    if (options.Bits != 16 && options.Bits != 24 && options.Bits != 32) {
        std::fprintf(stderr, "marlixaudio-cli: --bits takes 16, 24 or 32\n");
        return 4;
    }
    options.Output = files.back();
    files.pop_back();
    options.Inputs = files;
    Prepare(true);
    const TRenderResult result = RenderFiles(options, Settings(), PlayerState());
    PluginHost().UnloadAll();
    if (result.Status != 0) {
        std::fprintf(stderr, "marlixaudio-cli: %s\n", result.Message.c_str());
        return result.Status;
    }
    const double audio = result.OutRate > 0 ? static_cast<double>(result.Frames) / result.OutRate : 0;
    std::fprintf(stderr, "output rate: %d Hz\nup-sampling factor: %d\nspeed: %.1f x real time\n", result.OutRate,
                 result.UpFactor, result.Seconds > 0 ? audio / result.Seconds : 0.0);
    return 0;
}

int Measure(const std::vector<std::string>& args)
{
    bool check = false, save = false, apply = false;
    for (const std::string& a : args) {
        if (a == "--check")
            check = true;
        else if (a == "--save")
            save = true;
        else if (a == "--apply")
            apply = true;
        else
            return Usage("measure [--check] [--save] [--apply]");
    }
    Prepare(false);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const std::string folder = ProgramFolder();
    const auto seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    TMeasureSession session(Settings(), folder, check, seed);
    if (!session.Open()) {
        std::fprintf(stderr, "marlixaudio-cli: cannot open the pro-audio device '%s'\n",
                     Settings().ASIO.DriverName.c_str());
        return 3;
    }
    const TMeasureState& state = session.Measurement();
    const double perChannel = static_cast<double>(state.AddNum + 1) * state.N / session.Rate() + 3;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(2 * perChannel);
    const auto now = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    };
    session.SetStage(3, true, now());
    while (!session.AutomaticRunFinished() && !gInterrupted && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        session.Tick(now());
    }
    const bool finished = session.AutomaticRunFinished();
    session.Close();
    if (!finished) {
        std::fprintf(stderr, "marlixaudio-cli: the measurement did not complete (no signal from the device)\n");
        return 3;
    }
    const TMeasureTable table = session.Table();
    bool allValid = true;
    for (int c = 0; c < 2; ++c) {
        if (!table.Valid(c)) {
            allValid = false;
            if (table.Named(c))
                std::fprintf(stderr, "marlixaudio-cli: channel %d is too quiet (%.2f dB)\n", c, table.Results[c].Level);
            else
                std::fprintf(stderr, "marlixaudio-cli: channel %d is not routed to the measured outputs\n", c);
            continue;
        }
        const TMeasureRow row = table.Row(c);
        std::printf("ch %d: level %.2f dB, delay %.2f ms, polarity %s\n", c, row.Level, row.Delay,
                    row.Inverted ? "inverted" : "normal");
    }
    std::fflush(stdout);
    int status = allValid ? 0 : 3;
    if (save)
        for (const std::string& file : session.SaveResults()) {
            std::fprintf(stderr, "marlixaudio-cli: cannot write %s\n", file.c_str());
            status = 5;
        }
    if (apply) {
        session.ApplyToMaster();
        TIniFile ini(folder + "setting.ini");
        Settings().Output.Save(ini, "Output");
        if (!ini.UpdateFile()) {
            std::fprintf(stderr, "marlixaudio-cli: cannot write %ssetting.ini\n", folder.c_str());
            status = 5;
        }
    }
    return status;
}

namespace {

bool SearchOption(TSearchConditions& c, const std::string& option, const std::string& value)
{
    if (option == "--artist")
        c.Artist = value;
    else if (option == "--title")
        c.Title = value;
    else if (option == "--genre")
        c.Genre = value;
    else if (option == "--order" && (value == "random" || value == "new" || value == "rank"))
        c.Order = value == "random" ? TSearchConditions::TOrder::Random
                                    : value == "new" ? TSearchConditions::TOrder::New : TSearchConditions::TOrder::Rank;
    else if (option == "--max") {
        int n = 0;
        if (!ParseInteger(value, n) || n < 0 || n > TSearchConditions::MaxCount)
            return false;
        c.Max = n;
    } else
        return false;
    return true;
}

} // namespace

int Search(const std::vector<std::string>& args)
{
    const char* usage = "search [--artist A] [--title T] [--genre G] [--order random|new|rank] [--max N]";
    TSearchConditions conditions;
    for (size_t i = 0; i < args.size(); i += 2)
        if (i + 1 >= args.size() || !SearchOption(conditions, args[i], args[i + 1]))
            return Usage(usage);
    const std::string resultFile = Settings().Function.SearchResultPath;
    if (!TLibrarySearch::Search(TLibraryEndpoints::FromEnvironment(), conditions.Query(), resultFile)) {
        std::string message = TLibrarySearch::FailureMessage;
        std::replace(message.begin(), message.end(), '\r', '\n');
        std::fprintf(stderr, "%s\n", message.c_str());
        return 3;
    }
    for (const auto& r : TLibrarySearch::Results(resultFile))
        std::printf("%s\t%s\t%s\t%s\n", Printable(r.Id).c_str(), Printable(r.Artist).c_str(),
                    Printable(r.Title).c_str(), Printable(r.Mp3).c_str());
    return 0;
}

namespace {

// The URL of a result of the last search, by its identifier; empty when none has it.
std::string ResultUrl(const std::string& resultFile, const std::string& id)
{
    for (const auto& r : TLibrarySearch::Results(resultFile))
        if (r.Id == id)
            return r.Mp3;
    return {};
}

// Shows the running download's percentage on stderr: rewritten in place on a terminal,
// else a line at every tenth.
class TProgressLine {
public:
    explicit TProgressLine(std::string name) : Name(Printable(name)), Terminal(isatty(2) != 0) {}
    void Show(int percent)
    {
        if (Terminal ? percent == Shown : percent / 10 == Shown / 10)
            return;
        Shown = percent;
        std::fprintf(stderr, Terminal ? "\r%s %3d%%" : "%s %3d%%\n", Name.c_str(), percent);
        std::fflush(stderr);
    }
    void End()
    {
        if (Terminal && Shown >= 0)
            std::fputc('\n', stderr);
    }

private:
    std::string Name;
    bool Terminal;
    int Shown = -1;
};

} // namespace

int Download(const std::vector<std::string>& args)
{
    std::string what, folder;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--to" && i + 1 < args.size())
            folder = args[++i];
        else if (args[i].rfind("--", 0) == 0 || !what.empty())
            return Usage("download ID|URL [--to FOLDER]");
        else
            what = args[i];
    }
    if (what.empty())
        return Usage("download ID|URL [--to FOLDER]");
    TSettingFunction& function = Settings().Function;
    function.Load(TIniFile(ProgramFolder() + "setting.ini"), "Function");
    if (folder.empty())
        folder = function.DownloadPath;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const std::string url = what.find("://") != std::string::npos ? what : ResultUrl(function.SearchResultPath, what);
    if (url.empty()) {
        std::fprintf(stderr, "marlixaudio-cli: %s is not among the results of the last search\n",
                     Printable(what).c_str());
        return 3;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    TDownloadlist list;
    MakeDownloadRequests({url}, function.SearchResultPath, folder, list);
    TDownloadThread thread(list, [folder] { return folder; });
    thread.MaxBytes = DownloadLimitBytes(function);
    TProgressLine progress(TDownloadRequest::Split(list.Item(0)->Request).DisplayName());
    thread.Start();
    auto finished = [&list] { return list.Item(0)->Done || list.Item(0)->Failed; };
    while (!finished() && !gInterrupted) {
        progress.Show(thread.Progress.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    thread.Terminate();
    if (list.Item(0)->Done)
        progress.Show(100);
    progress.End();
    if (!list.Item(0)->Done) {
        if (gInterrupted)
            std::fprintf(stderr, "marlixaudio-cli: interrupted; the same command continues the download\n");
        else
            std::fprintf(stderr, "marlixaudio-cli: the download of %s failed\n", Printable(url).c_str());
        return 3;
    }
    std::printf("%s\n", Printable(thread.SavedFile()).c_str());
    return 0;
}

} // namespace marlix::cli
