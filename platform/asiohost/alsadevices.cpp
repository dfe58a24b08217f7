#include "platform/asiohost/alsadevices.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>

namespace marlix::asiohost {
namespace {

const char* const kPrefix = "ALSA: ";

// The card's first PCM device that has a `stream` side, or -1.
int FirstDevice(snd_ctl_t* ctl, snd_pcm_stream_t stream)
{
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_alloca(&info);
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
        snd_pcm_info_set_device(info, static_cast<unsigned>(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, stream);
        if (snd_ctl_pcm_info(ctl, info) == 0)
            return device;
    }
    return -1;
}

std::string CardName(snd_ctl_t* ctl, int card)
{
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl, info) == 0 && *snd_ctl_card_info_get_name(info))
        return snd_ctl_card_info_get_name(info);
    return "Card " + std::to_string(card);
}

void AddCard(int card, std::vector<TAlsaDevice>& devices)
{
    const std::string hw = "hw:" + std::to_string(card);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, hw.c_str(), SND_CTL_NONBLOCK) < 0)
        return;
    const int playback = FirstDevice(ctl, SND_PCM_STREAM_PLAYBACK);
    const int capture = FirstDevice(ctl, SND_PCM_STREAM_CAPTURE);
    std::string name = kPrefix + CardName(ctl, card);
    snd_ctl_close(ctl);
    if (playback < 0)
        return;
    // Two cards of the same model stay apart.
    const auto same = [&](const TAlsaDevice& d) { return d.DriverName == name; };
    if (std::any_of(devices.begin(), devices.end(), same))
        name += " (" + hw + ")";
    devices.push_back({name, hw + "," + std::to_string(playback),
                       capture >= 0 ? hw + "," + std::to_string(capture) : std::string()});
}

} // namespace

std::vector<TAlsaDevice> ListAlsaDevices()
{
    std::vector<TAlsaDevice> devices;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0)
        AddCard(card, devices);
    // The extra PCM plays only: a user's device or a test's file device.
    const char* extra = std::getenv("MARLIX_AUDIO_ALSA_PCM");
    if (extra && *extra)
        devices.push_back({kPrefix + std::string(extra), extra, std::string()});
    return devices;
}

bool FindAlsaDevice(const std::string& driverName, TAlsaDevice& device)
{
    for (TAlsaDevice& d : ListAlsaDevices()) {
        if (d.DriverName == driverName) {
            device = std::move(d);
            return true;
        }
    }
    return false;
}

} // namespace marlix::asiohost
