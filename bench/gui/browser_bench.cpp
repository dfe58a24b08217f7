// The browser on a large music folder: 2 000 album folders of 10 files each (20 000
// files), built in a temporary folder. BM_RootPopupCached times what the user waits for
// once the worker has listed the folder: hovering the music folder's triangle until the
// pop-up is shown and drawn. The other two time the worker's jobs.
#include "gui/paintbox.h"
#include "gui/player/browser.h"
#include "gui/player/browser2.h"
#include "player/pending.h"
#include "player/playerstate.h"
#include "settings/settings.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace marlix;

constexpr int kFolders = 2000;
constexpr int kFilesPerFolder = 10;

struct TBenchTree {
    fs::path Root;
    std::string Music;

    TBenchTree()
    {
        std::string pattern = (fs::temp_directory_path() / "marlix-browser-XXXXXX").string();
        Root = mkdtemp(pattern.data());
        Music = (Root / "music").string() + "/";
        for (int f = 0; f < kFolders; ++f) {
            const fs::path folder = fs::path(Music) / ("Artist " + std::to_string(f % 97) + " - Album " + std::to_string(f));
            fs::create_directories(folder);
            for (int i = 0; i < kFilesPerFolder; ++i)
                std::ofstream(folder / (std::to_string(i + 1) + " Track.mp3")) << 'x';
        }
        fs::create_directories(Root / "history");
    }
    ~TBenchTree()
    {
        std::error_code ec;
        fs::remove_all(Root, ec);
    }
};

TBenchTree* Tree = nullptr;

void Move(QWidget* w, QPointF at)
{
    QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void BM_RootPopupCached(benchmark::State& state)
{
    TSettings settings;
    settings.Operation.nBrowserType = int(state.range(0));
    TPlayerState player;
    player.SortMode = 3;
    TPendingAdditions pending;
    TFo_Browser window(settings, player, pending, nullptr, THistory(Tree->Root.string() + "/history/"), Tree->Music);
    window.resize(145, 500);
    window.show();
    TPaintBox* box = window.Frame()->PaintBox();
    const QPointF zone(box->width() - 5.0, 5), text(20, 5);
    Move(box, zone); // the first hover fills the cache
    if (!QTest::qWaitFor([&] { return window.Popup() != nullptr; }, 60000)) {
        state.SkipWithError("the pop-up never opened");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        Move(box, text);
        window.ClosePopups();
        state.ResumeTiming();
        Move(box, zone);
        if (!window.Popup()) {
            state.SkipWithError("not cached");
            break;
        }
        QApplication::processEvents(); // show and paint
        benchmark::DoNotOptimize(window.Popup()->Frame()->Picture().constBits());
    }
    window.Lister().Flush();
    state.counters["entries"] = double(window.Popup() ? window.Popup()->Frame()->Entries.size() : 0);
}
BENCHMARK(BM_RootPopupCached)->Arg(0)->Arg(1)->ArgName("paged")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListMusicFolder(benchmark::State& state)
{
    const THistory history(Tree->Root.string() + "/history/");
    const TBrowserListingRequest request{Tree->Music, "wav,mp3,m3u,mxp", true, {int(state.range(0)), false}};
    for (auto _ : state)
        benchmark::DoNotOptimize(MakeListing(request, history));
}
BENCHMARK(BM_ListMusicFolder)->Arg(0)->Arg(1)->Arg(3)->ArgName("mode")->Unit(benchmark::kMillisecond);

void BM_AddWholeMusicFolder(benchmark::State& state)
{
    const THistory history(Tree->Root.string() + "/history/");
    for (auto _ : state)
        benchmark::DoNotOptimize(FolderAdditions(Tree->Music, "wav,mp3", {0, false}, history, false));
}
BENCHMARK(BM_AddWholeMusicFolder)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    TBenchTree tree;
    Tree = &tree;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Tree = nullptr;
    return 0;
}
