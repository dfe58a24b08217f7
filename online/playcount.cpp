#include "online/playcount.h"

#include "online/libraryendpoints.h"
#include "online/reportconstants.h"
#include "platform/inet/inet.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <utility>

namespace marlix {

std::string TPlayCountReport::MakeNonce(std::mt19937& random)
{
    std::uniform_int_distribution<int> length(16, 35), pick(0, 61);
    std::string nonce(static_cast<size_t>(length(random)), ' ');
    for (char& c : nonce)
        c = Alphabet[pick(random)];
    return nonce;
}

namespace {

bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int32_t HexValue(const std::string& id)
{
    if (id.empty())
        return 0;
    uint64_t v = 0;
    for (char c : id) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return 0;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

} // namespace

std::string TPlayCountReport::CheckCode(const std::string& identifier, const std::string& nonce, int day)
{
    std::string shuffled = Alphabet;
    int64_t count = 0;
    for (size_t i = 0; i < nonce.size(); ++i) {
        const char ch = nonce[i];
        if (!IsAsciiAlnum(ch))
            continue;
        std::swap(shuffled[static_cast<unsigned char>(ch) % 62], shuffled[i % 62]);
        ++count;
    }
    const int64_t n = count + HexValue(identifier) - day;
    std::string code = identifier.substr(0, 8);
    for (double m : kReportConstants) {
        const auto b = static_cast<int64_t>(std::nearbyint(static_cast<double>(n) * m)) & 0xFF;
        code += shuffled[static_cast<size_t>(b % 62)];
    }
    return code;
}

int TPlayCountReport::Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const year_month_day date{year{local.tm_year + 1900}, month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    return static_cast<int>((sys_days{date} - sys_days{year{1899} / December / 30}).count());
}

std::string TPlayCountReport::Body(const std::string& identifier, const std::string& nonce, int day)
{
    return CheckCode(identifier, nonce, day) + "\r" + nonce;
}

void TPlayCountReport::Report(const TLibraryEndpoints& endpoints, const std::string& identifier)
{
    static std::mt19937 random{std::random_device{}()};
    const std::string body = Body(identifier, MakeNonce(random), Today());
    InetPostAndForget(body, endpoints.CountPath + "/mp3count", endpoints.InetHost(), endpoints.BaseUrl);
}

} // namespace marlix
