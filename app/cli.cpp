// marlixaudio-cli: the player's engine without windows.
//   info FILE                                  what the decoder makes of a file
//   play [--driver mme|asio] [FILE|URL|M3U …]  plays like the player
//   render [--bits 16|24|32] [--max-seconds S] INPUT… OUTPUT.wav
//   measure [--check] [--save] [--apply]       measures both speakers over the pro-audio driver
//   search [--artist A] [--title T] [--genre G] [--order random|new|rank] [--max N]
//                                              searches the online library into "current.ini"
//   download ID|URL [--to FOLDER]              saves a track as the download queue does
//   remote status|play|pause|stop|next|previous|stage ...|volume DB|preset ...
//                                              drives the running player of this program folder
// Exit status: 0 success, 2 usage, 3 input cannot be opened, the device failed, a
// measured channel is too quiet or a download failed,
// 4 unsupported request, 5 the settings or playlist could not be saved at exit;
// for remote: 4 no player runs for the program folder, 5 the player refused the command.
#include "app/clicommands.h"
#include "app/plancommand.h"
#include "app/remotecommand.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fprintf(stderr, "usage: marlixaudio-cli info FILE | play [--driver mme|asio] [FILE|URL|M3U ...] | "
                             "render [--bits 16|24|32] [--max-seconds S] INPUT... OUTPUT.wav | "
                             "measure [--check] [--save] [--apply] | "
                             "search [--artist A] [--title T] [--genre G] [--order random|new|rank] [--max N] | "
                             "download ID|URL [--to FOLDER] | "
                             "remote status|play|pause|stop|next|previous|stage NAME on|off|volume DB|preset KIND NAME\n");
        return 2;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "info")
        return marlix::cli::Info(args);
    if (command == "render")
        return marlix::cli::Render(args);
    if (command == "measure")
        return marlix::cli::Measure(args);
    if (command == "play")
        return marlix::cli::Play(args);
    if (command == "search")
        return marlix::cli::Search(args);
    if (command == "download")
        return marlix::cli::Download(args);
    if (command == "plan")
        return marlix::cli::Plan(args);
    if (command == "remote")
        return marlix::cli::Remote(args);
    std::fprintf(stderr, "marlixaudio-cli: unknown command '%s'\n", command.c_str());
    return 2;
}
