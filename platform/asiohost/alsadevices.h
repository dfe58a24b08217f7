#pragma once
// The ALSA drivers the host library offers: one per sound card with a playback PCM,
// then the PCM named by MARLIX_AUDIO_ALSA_PCM.
#include <string>
#include <vector>

namespace marlix::asiohost {

struct TAlsaDevice {
    std::string DriverName; // "ALSA: " + card or PCM name
    std::string Playback;   // "hw:card,device", or the extra PCM's name
    std::string Capture;    // the card's first capture PCM; "" for none
};

std::vector<TAlsaDevice> ListAlsaDevices();
// The device listed under `driverName`; false when there is none.
bool FindAlsaDevice(const std::string& driverName, TAlsaDevice& device);

} // namespace marlix::asiohost
