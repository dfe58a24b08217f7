#pragma once
#include <random>
#include <string>

namespace marlix {

struct TLibraryEndpoints;

// The play-count report of a library track: a random nonce, and a check code made of the
// identifier's first eight characters and eight characters of an alphabet shuffled by
// the nonce, picked by the report constants.
class TPlayCountReport {
public:
    static constexpr const char* Alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

    // 16 to 35 characters of the alphabet.
    static std::string MakeNonce(std::mt19937& random);
    // `day` counts days since 30 December 1899.
    static std::string CheckCode(const std::string& identifier, const std::string& nonce, int day);
    // Today's local date as such a day number.
    static int Today();
    // Code, CR, nonce.
    static std::string Body(const std::string& identifier, const std::string& nonce, int day);
    // Posts the report for `identifier` to the count path + "/mp3count"; never fails.
    static void Report(const TLibraryEndpoints& endpoints, const std::string& identifier);
};

} // namespace marlix
