#pragma once
#include "base/dynlib.h"
#include "plugins/aep.h"
#include "dsp/efxslot.h"

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace marlix {

// The entry points of one loaded plug-in; absent exports are null.
struct TPluginEntries {
    TAEPAction Show = nullptr, Hide = nullptr, Start = nullptr, Stop = nullptr, Clear = nullptr, Destroy = nullptr;
    TAEPSetData SetData = nullptr;
    TAEPGetData GetData = nullptr;
    TAEPSetText SetText = nullptr;
    TAEPSetPlugPath SetPlugPath = nullptr;
    TAEPPostWave PostWave = nullptr;
    TAEPPostWaveData PostWaveData = nullptr;
    TAEPGetPlugName GetPlugName = nullptr;
    TAEPGetPlugVersion GetPlugVersion = nullptr;
    TAEPGetActivePlug GetActivePlug = nullptr;
    TAEPGetActiveChanged GetActiveChanged = nullptr;
    TAEPGetIsSSynth GetIsSSynth = nullptr;
    TAEPPostMIDIMessage PostMIDIMessage = nullptr;
    TAEPSetCBPostMIDIMessage SetCBPostMIDIMessage = nullptr;
};

// One effect slot (also used for probing).
struct TPluginSlot {
    TDynLib Module;
    std::string Name;       // as "GetPlugName" returned it
    std::string ModulePath; // the file actually loaded (a private copy, normally)
    std::string SourcePath; // the plug-in file, or the bridge for a foreign plug-in
    int32_t IsSynth = 0;
    int32_t Bridged = 0;
    TPluginEntries Entry;
    std::atomic<bool> Loaded{false};
    // Set by the pipeline while it is inside the plug-in, so unloading waits it out.
    std::atomic<bool> InUse{false};
    // Set while the main thread calls the plug-in's state functions: the pipeline passes
    // the slot by meanwhile, so a plug-in never processes while its state changes.
    std::atomic<bool> Held{false};
    // Set when the slot is switched on; the pipeline calls "Clear" before the next block.
    std::atomic<bool> ClearPending{false};
};

struct TCatalogueEntry {
    std::string Path;
    std::string DisplayName; // unique: a label two libraries share gets the file's name
    int32_t IsSynth = 0;
    std::string PlugName;    // as "GetPlugName" returned it
};

// Finds, loads, calls and unloads effect plug-ins. Every slot runs a private copy of its
// library from "plugtemp", so the same plug-in in two slots keeps two states. Plug-ins
// other than ".aep" files (LADSPA libraries) run inside the bridge "vstrack.aep".
class TPluginHost : public TEFXSlotHost {
public:
    static constexpr int SlotCount = 8;
    static constexpr size_t MaxCatalogue = 8192;
    static constexpr int32_t MaxStateSize = 64 << 20;
    // How long an unload waits for the pipeline to leave a plug-in.
    std::chrono::milliseconds UnloadTimeout{2000};
    static constexpr const char* Caption = "Audio Effect Plug-in";

    // `programFolder` ends in "/". Removes copies a previous run left in "plugtemp".
    explicit TPluginHost(std::string programFolder);
    ~TPluginHost() override;
    TPluginHost(const TPluginHost&) = delete;
    TPluginHost& operator=(const TPluginHost&) = delete;

    // Probes the "plugin" folder (with sub-folders) and the LADSPA folders; built on
    // first use otherwise.
    void BuildCatalogue();
    const std::vector<TCatalogueEntry>& Catalogue();

    // A file from the catalogue names its slot after the catalogue's unique display
    // name, so saving and loading the slot finds the same file again. The plug-in's
    // "Start" is called before the pipeline may see the slot.
    [[nodiscard]] bool LoadPlugin(int slot, const std::string& file, bool privateCopy);
    void UnloadPlugin(int slot, bool deleteCopy);
    void UnloadAll();
    std::string ProbePlugin(const std::string& file);
    // Calls "Hide" of every loaded slot.
    void HideAll();
    // Marks a slot to be cleared before its next block (its on switch was pressed).
    void RequestClear(int slot);

    // TEFXSlotHost: the state file's view of the slots. SetData and GetData keep the
    // pipeline out of the plug-in while they call it; one that does not leave it by
    // UnloadTimeout gets no call (reported).
    bool FindAndLoad(int slot, const std::string& name) override;
    void SetData(int slot, const std::vector<uint8_t>& data) override;
    std::vector<uint8_t> GetData(int slot) override;
    void Unload(int slot) override { UnloadPlugin(slot, true); }

    TPluginSlot& Slot(int slot) { return Slots[static_cast<size_t>(slot)]; }
    std::string PluginFolder() const { return Folder + "plugin/"; }
    std::string TempFolder() const { return Folder + "plugtemp/"; }

    // Where messages for the user go (caption, text); stderr unless replaced.
    std::function<void(const std::string&, const std::string&)> Report;

private:
    template <class F> bool WithPipelineOut(TPluginSlot& s, const char* what, F call);
    std::vector<uint8_t> FetchState(TPluginSlot& s);
    bool LoadInto(TPluginSlot& s, const std::string& file, bool privateCopy);
    void Release(TPluginSlot& s, bool deleteCopy);
    std::string MakeCopy(const std::string& module);
    void ProbeFolder(const std::string& folder, bool recursive, bool nativeToo);
    void AddToCatalogue(TCatalogueEntry entry);
    static std::vector<std::string> LadspaFolders();
    static bool IsNative(const std::string& file);

    std::string Folder;
    std::array<TPluginSlot, SlotCount> Slots;
    std::vector<TCatalogueEntry> CatalogueEntries;
    bool CatalogueBuilt = false;
    std::vector<std::string> LoadedPaths;
};

// The process-wide host, made on first use for ProgramFolder().
TPluginHost& PluginHost();

} // namespace marlix
