#include "support/jackregistry.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marlix::test {
namespace {

// The registry's head as jackd 1.9 lays it out: a header, then one row per server.
constexpr uint32_t kMagic = 0x4a41434b; // "JACK"
constexpr int kServers = 8;
constexpr size_t kHeaderBytes = 24;
constexpr size_t kRowBytes = 264; // pid, then a 257-byte name, padded

} // namespace

int ReclaimDeadJackServers()
{
    const int fd = open("/dev/shm/jack-shm-registry", O_RDWR);
    if (fd < 0)
        return 0;
    struct stat st {};
    const size_t need = kHeaderBytes + kServers * kRowBytes;
    int cleared = 0;
    if (fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) >= need) {
        void* map = mmap(nullptr, need, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            auto* bytes = static_cast<unsigned char*>(map);
            uint32_t magic = 0, headerLength = 0;
            std::memcpy(&magic, bytes, 4);
            std::memcpy(&headerLength, bytes + 16, 4);
            if (magic == kMagic && headerLength == need) {
                for (int i = 0; i < kServers; ++i) {
                    unsigned char* row = bytes + kHeaderBytes + i * kRowBytes;
                    int32_t pid = 0;
                    std::memcpy(&pid, row, 4);
                    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
                        std::memset(row, 0, kRowBytes);
                        ++cleared;
                    }
                }
            }
            munmap(map, need);
        }
    }
    close(fd);
    return cleared;
}

} // namespace marlix::test
