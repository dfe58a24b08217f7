#include "dsp/pluginhost.h"

#include "base/fileutil.h"
#include "base/programfolder.h"
#include "base/boundedwait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

namespace marlix {
namespace {

namespace fs = std::filesystem;

// Copies are numbered process-wide, so no two loads ever share a file name.
std::atomic<int> gCopyCounter{0};

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Extension(const std::string& file)
{
    return Lower(fs::path(file).extension().string());
}

std::string FolderOf(const std::string& file)
{
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}

void ResolveAll(const TDynLib& m, TPluginEntries& e)
{
    m.Resolve("Show", e.Show);
    m.Resolve("Hide", e.Hide);
    m.Resolve("Start", e.Start);
    m.Resolve("Stop", e.Stop);
    m.Resolve("Clear", e.Clear);
    m.Resolve("Destroy", e.Destroy);
    m.Resolve("SetData", e.SetData);
    m.Resolve("GetData", e.GetData);
    m.Resolve("SetText", e.SetText);
    m.Resolve("SetPlugPath", e.SetPlugPath);
    m.Resolve("PostWave", e.PostWave);
    m.Resolve("PostWaveData", e.PostWaveData);
    m.Resolve("GetPlugName", e.GetPlugName);
    m.Resolve("GetPlugVersion", e.GetPlugVersion);
    m.Resolve("GetActivePlug", e.GetActivePlug);
    m.Resolve("GetActiveChanged", e.GetActiveChanged);
    m.Resolve("GetIsSSynth", e.GetIsSSynth);
    m.Resolve("PostMIDIMessage", e.PostMIDIMessage);
    m.Resolve("SetCBPostMIDIMessage", e.SetCBPostMIDIMessage);
}

// The block that tells the bridge which foreign library to host: 1, 1, 0, 0, then the
// path without its extension. Empty when the path does not fit.
std::vector<uint8_t> BridgeBlock(const std::string& foreign)
{
    const std::string stem = (fs::path(foreign).parent_path() / fs::path(foreign).stem()).string();
    if (stem.size() + 1 > AEP_BRIDGE_BLOCK_SIZE - AEP_BRIDGE_NAME_OFFSET)
        return {};
    std::vector<uint8_t> block(AEP_BRIDGE_BLOCK_SIZE, 0);
    block[0] = 1;
    block[1] = 1;
    std::memcpy(block.data() + AEP_BRIDGE_NAME_OFFSET, stem.data(), stem.size());
    return block;
}

// The display name `base` told apart by the library's file name, or by its whole path
// when another library of that label has the same file name.
std::string Qualified(const std::string& base, const std::string& path, bool fileNameShared)
{
    return base + " (" + (fileNameShared ? path : fs::path(path).filename().string()) + ")";
}

// `plugName` with its display part replaced by `display`.
std::string WithDisplayName(const std::string& plugName, const std::string& display)
{
    const auto bar = plugName.find('|');
    return bar == std::string::npos ? display : plugName.substr(0, bar + 1) + display;
}

void ReportToStderr(const std::string& caption, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

} // namespace

TPluginHost::TPluginHost(std::string programFolder) : Report(ReportToStderr), Folder(std::move(programFolder))
{
    std::vector<std::string> stale;
    ListFolder(TempFolder(), stale, false, "so,part");
    for (const std::string& entry : stale)
        if (entry.rfind("!plug", 0) == 0)
            std::remove((TempFolder() + entry.substr(1)).c_str());
}

TPluginHost::~TPluginHost()
{
    UnloadAll();
}

bool TPluginHost::IsNative(const std::string& file)
{
    return Extension(file) == ".aep";
}

std::string TPluginHost::MakeCopy(const std::string& module)
{
    std::error_code ec;
    fs::create_directories(TempFolder(), ec);
    const std::string copy = TempFolder() + "plug" + std::to_string(gCopyCounter.fetch_add(1)) + ".so";
    // A new file renamed into place: an older file of that name may still be mapped by
    // another running instance, and must not change under it.
    const std::string part = copy + ".part";
    fs::copy_file(module, part, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(part, copy, ec);
    if (ec) {
        std::remove(part.c_str());
        return {};
    }
    return copy;
}

bool TPluginHost::LoadInto(TPluginSlot& s, const std::string& file, bool privateCopy)
{
    const bool native = IsNative(file);
    const std::string module = native ? file : Folder + "vstrack.aep";
    std::vector<uint8_t> block;
    if (!native && (block = BridgeBlock(file)).empty())
        return false;
    s.SourcePath = module;
    s.ModulePath = privateCopy ? MakeCopy(module) : module;
    if (s.ModulePath.empty())
        return false;
    s.Module = TDynLib(s.ModulePath);
    if (!s.Module) {
        Release(s, privateCopy);
        return false;
    }
    s.Entry = {};
    ResolveAll(s.Module, s.Entry);
    if (s.Entry.SetPlugPath)
        s.Entry.SetPlugPath(FolderOf(module).c_str());
    s.Bridged = native ? 0 : 1;
    if (!native && s.Entry.SetData)
        s.Entry.SetData(block.data(), static_cast<int32_t>(block.size()));
    const char* name = s.Entry.GetPlugName ? s.Entry.GetPlugName() : nullptr;
    s.Name = name ? std::string(name, strnlen(name, 255)) : std::string();
    s.IsSynth = s.Entry.GetIsSSynth ? s.Entry.GetIsSSynth() : 0;
    if (std::find(LoadedPaths.begin(), LoadedPaths.end(), s.ModulePath) == LoadedPaths.end())
        LoadedPaths.push_back(s.ModulePath);
    return true;
}

bool TPluginHost::LoadPlugin(int slot, const std::string& file, bool privateCopy)
{
    if (slot < 0 || slot >= SlotCount)
        return false;
    UnloadPlugin(slot, true);
    TPluginSlot& s = Slot(slot);
    if (!LoadInto(s, file, privateCopy))
        return false;
    const auto entry = std::find_if(CatalogueEntries.begin(), CatalogueEntries.end(),
                                    [&](const TCatalogueEntry& e) { return e.Path == file; });
    if (entry != CatalogueEntries.end() && entry->PlugName == s.Name)
        s.Name = WithDisplayName(s.Name, entry->DisplayName);
    if (s.Entry.Start)
        s.Entry.Start();
    s.Loaded.store(true); // from here on the pipeline may call it
    return true;
}

void TPluginHost::Release(TPluginSlot& s, bool deleteCopy)
{
    s.Loaded.store(false);
    // The pipeline checks Loaded after raising InUse; wait until it has left the plug-in.
    // One that does not come back in time keeps the library: it is left loaded, not closed.
    const bool left = WaitUntilDone([&] { return !s.InUse.load(); }, UnloadTimeout);
    if (!left)
        ReportAbandoned(("the plug-in \"" + s.Name + "\"").c_str(), UnloadTimeout);
    if (s.Module && left) {
        if (s.Entry.Destroy)
            s.Entry.Destroy();
        s.Module.Close();
    }
    s.Module.Release();
    if (deleteCopy && !s.ModulePath.empty()) {
        std::remove(s.ModulePath.c_str());
        std::erase(LoadedPaths, s.ModulePath);
    }
    s.Entry = {};
    s.Name.clear();
    s.ModulePath.clear();
    s.SourcePath.clear();
    s.IsSynth = s.Bridged = 0;
}

void TPluginHost::UnloadPlugin(int slot, bool deleteCopy)
{
    if (slot < 0 || slot >= SlotCount)
        return;
    TPluginSlot& s = Slot(slot);
    if (s.Module || !s.ModulePath.empty())
        Release(s, deleteCopy);
}

void TPluginHost::UnloadAll()
{
    for (int i = 0; i < SlotCount; ++i)
        UnloadPlugin(i, true);
}

std::string TPluginHost::ProbePlugin(const std::string& file)
{
    TPluginSlot probe;
    if (!LoadInto(probe, file, false))
        return {};
    if (!probe.Entry.GetPlugName)
        Report(Caption, "\"GetPlugName\" is not exported\n" + file);
    if (probe.Name.empty()) {
        Release(probe, false);
        return {};
    }
    if (CatalogueEntries.size() >= MaxCatalogue) {
        Release(probe, false);
        return PlugDisplayName(probe.Name);
    }
    AddToCatalogue({file, PlugDisplayName(probe.Name), probe.IsSynth, probe.Name});
    Release(probe, false);
    return CatalogueEntries.back().DisplayName;
}

void TPluginHost::AddToCatalogue(TCatalogueEntry entry)
{
    const std::string base = entry.DisplayName;
    CatalogueEntries.push_back(std::move(entry));
    std::vector<TCatalogueEntry*> same;
    for (TCatalogueEntry& e : CatalogueEntries)
        if (PlugDisplayName(e.PlugName) == base)
            same.push_back(&e);
    if (same.size() < 2)
        return;
    for (TCatalogueEntry* e : same) {
        const auto file = fs::path(e->Path).filename();
        const bool shared = std::count_if(same.begin(), same.end(), [&](const TCatalogueEntry* o) {
                                return fs::path(o->Path).filename() == file;
                            }) > 1;
        e->DisplayName = Qualified(base, e->Path, shared);
    }
}

void TPluginHost::ProbeFolder(const std::string& folder, bool recursive, bool nativeToo)
{
    std::vector<std::string> files;
    ListFolder(folder, files, recursive, nativeToo ? "aep,so" : "so");
    std::sort(files.begin(), files.end());
    for (std::string file : files) {
        if (!recursive)
            file = folder + file.substr(1);
        ProbePlugin(file);
    }
}

std::vector<std::string> TPluginHost::LadspaFolders()
{
    const char* env = std::getenv("LADSPA_PATH");
    if (!env)
        return {"/usr/local/lib/ladspa/", "/usr/lib/ladspa/"};
    std::vector<std::string> folders;
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        std::string folder = list.substr(start, end - start);
        if (!folder.empty())
            folders.push_back(folder.back() == '/' ? folder : folder + "/");
        start = end + 1;
    }
    return folders;
}

void TPluginHost::BuildCatalogue()
{
    CatalogueEntries.clear();
    CatalogueBuilt = true;
    ProbeFolder(PluginFolder(), true, true);
    for (const std::string& folder : LadspaFolders())
        ProbeFolder(folder, false, false);
}

const std::vector<TCatalogueEntry>& TPluginHost::Catalogue()
{
    if (!CatalogueBuilt)
        BuildCatalogue();
    return CatalogueEntries;
}

bool TPluginHost::FindAndLoad(int slot, const std::string& name)
{
    const std::string display = PlugDisplayName(name);
    const auto& catalogue = Catalogue();
    auto entry = std::find_if(catalogue.begin(), catalogue.end(),
                              [&](const TCatalogueEntry& e) { return e.DisplayName == display; });
    // A name saved before its label was shared: the first library of that label.
    if (entry == catalogue.end())
        entry = std::find_if(catalogue.begin(), catalogue.end(),
                             [&](const TCatalogueEntry& e) { return PlugDisplayName(e.PlugName) == display; });
    if (entry == catalogue.end()) {
        Report(Caption, display + " is not found.");
        return false;
    }
    return LoadPlugin(slot, entry->Path, true);
}

// Held is raised before InUse is looked at, as the pipeline raises InUse before it
// looks at Held: one of the two always sees the other.
template <class F> bool TPluginHost::WithPipelineOut(TPluginSlot& s, const char* what, F call)
{
    s.Held.store(true);
    const bool out = WaitUntilDone([&] { return !s.InUse.load(); }, UnloadTimeout);
    if (out)
        call();
    else
        Report(Caption, PlugDisplayName(s.Name) + ": still processing, its state was not " + what + ".");
    s.Held.store(false);
    return out;
}

void TPluginHost::SetData(int slot, const std::vector<uint8_t>& data)
{
    TPluginSlot& s = Slot(slot);
    if (s.Loaded.load() && s.Entry.SetData)
        WithPipelineOut(s, "restored", [&] { s.Entry.SetData(data.data(), static_cast<int32_t>(data.size())); });
}

std::vector<uint8_t> TPluginHost::GetData(int slot)
{
    TPluginSlot& s = Slot(slot);
    std::vector<uint8_t> state;
    if (s.Loaded.load() && s.Entry.GetData)
        WithPipelineOut(s, "saved", [&] { state = FetchState(s); });
    return state;
}

std::vector<uint8_t> TPluginHost::FetchState(TPluginSlot& s)
{
    void* data = nullptr;
    int32_t size = 0;
    s.Entry.GetData(&data, &size);
    if (size < 0 || size > MaxStateSize) {
        Report(Caption, PlugDisplayName(s.Name) + ": its state of " + std::to_string(size) +
                            " bytes was not saved.");
        return {};
    }
    if (data) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        return std::vector<uint8_t>(bytes, bytes + size);
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    void* target = buffer.data();
    int32_t filled = size;
    if (size > 0)
        s.Entry.GetData(&target, &filled);
    return buffer;
}

void TPluginHost::HideAll()
{
    for (TPluginSlot& s : Slots)
        if (s.Loaded.load() && s.Entry.Hide)
            s.Entry.Hide();
}

void TPluginHost::RequestClear(int slot)
{
    if (slot >= 0 && slot < SlotCount)
        Slot(slot).ClearPending.store(true);
}

TPluginHost& PluginHost()
{
    static TPluginHost host(ProgramFolder());
    return host;
}

} // namespace marlix
