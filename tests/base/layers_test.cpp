// The libraries form layers: a source file may include headers of its own layer and of
// the layers below it, never one above, and never a peer at the same height (that
// would let two libraries depend on each other).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

struct TLayer {
    std::string Prefix; // folder, relative to the source root
    int Height;
};

// Run-time modules and plug-ins sit with the platform layers: they include nothing of
// the player's and are loaded behind C interfaces.
const std::vector<TLayer> kLayers = {
    {"base/", 0},           {"plugins/", 1},         {"platform/dsdec/", 1}, {"platform/waveout/", 1},
    {"platform/asiohost/", 1}, {"platform/nsp/", 1}, {"platform/inet/", 1}, {"dsp/", 2},            {"settings/", 3},
    {"engine/", 4},         {"player/", 5},          {"measure/", 6},        {"online/", 6},
    {"gui/", 7},            {"server/", 7},         {"app/", 8},
};

const TLayer* LayerOf(const std::string& path)
{
    const TLayer* best = nullptr;
    for (const TLayer& l : kLayers)
        if (path.starts_with(l.Prefix) && (!best || l.Prefix.size() > best->Prefix.size()))
            best = &l;
    return best;
}

struct TSource {
    std::string Path;
    std::vector<std::string> Includes;
};

// One line per include that breaks the layering.
std::vector<std::string> Violations(const std::vector<TSource>& sources)
{
    std::vector<std::string> out;
    for (const TSource& s : sources) {
        const TLayer* from = LayerOf(s.Path);
        if (!from)
            continue;
        for (const std::string& inc : s.Includes) {
            const TLayer* to = LayerOf(inc);
            if (!to)
                out.push_back(s.Path + " includes " + inc + ", which is in no layer");
            else if (to->Height > from->Height)
                out.push_back(s.Path + " includes " + inc + " from a layer above");
            else if (to->Height == from->Height && to != from)
                out.push_back(s.Path + " includes " + inc + " from a peer layer");
        }
    }
    return out;
}

std::vector<TSource> ReadTree(const std::filesystem::path& root)
{
    static const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<TSource> sources;
    for (const TLayer& layer : kLayers) {
        const auto dir = root / layer.Prefix;
        if (!std::filesystem::exists(dir))
            continue;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
            const auto ext = e.path().extension();
            if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h"))
                continue;
            TSource s{std::filesystem::relative(e.path(), root).generic_string(), {}};
            std::ifstream in(e.path());
            std::smatch m;
            for (std::string line; std::getline(in, line);)
                if (std::regex_search(line, m, include))
                    s.Includes.push_back(m[1]);
            sources.push_back(std::move(s));
        }
    }
    return sources;
}

TEST(Layers, RuleFlagsUpwardPeerAndUnknownIncludes)
{
    struct {
        const char* File;
        const char* Include;
        bool Allowed;
    } cases[] = {
        {"dsp/fft.cpp", "base/flexbuf.h", true},
        {"dsp/fft.cpp", "dsp/fft.h", true},
        {"platform/dsdec/module/x.cpp", "platform/dsdec/dsdec.h", true},
        {"dsp/fft.cpp", "settings/setting.h", false},
        {"base/fifo.cpp", "engine/decoder.h", false},
        {"settings/x.cpp", "gui/plot.h", false},
        {"measure/x.cpp", "online/y.h", false},
        {"platform/waveout/x.cpp", "platform/dsdec/dsdec.h", false},
        {"engine/x.cpp", "nowhere/y.h", false},
        {"app/cli.cpp", "gui/plot.h", true},
    };
    for (const auto& c : cases) {
        const auto v = Violations({{c.File, {c.Include}}});
        EXPECT_EQ(v.empty(), c.Allowed) << c.File << " -> " << c.Include;
    }
}

TEST(Layers, SourceTreeKeepsItsLayers)
{
    const auto sources = ReadTree(MARLIX_SOURCE_DIR);
    ASSERT_GT(sources.size(), 50u);
    const auto v = Violations(sources);
    std::string all;
    for (const auto& line : v)
        all += line + "\n";
    EXPECT_TRUE(v.empty()) << all;
}

} // namespace
