#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// An INI file held in memory. The constructor reads the file when it exists (a missing
// or unreadable file is an empty one); writes change only the memory copy until
// UpdateFile() replaces the file on disk.
//
// Section and key names match case-insensitively (ASCII); the first of duplicate
// sections or keys wins. Rewriting keeps every other line as it was: comments (";" or
// "#"), blank lines and order. New keys go after the last key of their section, new
// sections at the end. A UTF-8 byte order mark and CRLF line ends are accepted and kept.
// Values keep leading and trailing blanks by being written in double quotes, which are
// removed again on reading.
class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return Path; }

    std::vector<std::string> ReadSections() const;
    std::vector<std::string> ReadSection(std::string_view section) const;
    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    std::string ReadString(std::string_view section, std::string_view key, const std::string& def) const;
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    double ReadFloat(std::string_view section, std::string_view key, double def) const;

    // Returns false (and changes nothing) when the names or the value cannot be stored
    // in an INI line: a line break anywhere, an empty key, "=" in the key, a key that
    // would read as a section or comment, "]" in the section name.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    bool WriteBool(std::string_view section, std::string_view key, bool value);
    bool WriteFloat(std::string_view section, std::string_view key, double value);

    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);

    // The whole file as it would be saved.
    std::string Text() const;
    // Saves through a temporary file in the same folder that is then renamed over the
    // target; on failure the old file stays as it was and false is returned.
    bool UpdateFile() const;

private:
    struct TLine {
        std::string text;
        std::string key; // set for "key=value" lines
    };
    struct TSection {
        std::string name;
        bool hasHeader = false;
        std::string header;
        std::vector<TLine> lines;
    };

    void Parse(std::string_view text);
    const TSection* Find(std::string_view section) const;
    TSection* Find(std::string_view section);
    template <class Section> static auto* FindKey(Section& s, std::string_view key);
    TSection& AddSection(std::string_view section);

    std::string Path;
    std::vector<TSection> Sections; // Sections[0] holds the lines before the first header
    bool Bom = false;
    bool Crlf = false;
};

// Number texts shared by the INI file and the values stored inside strings.
// ParseInteger: optional sign, then decimal or "0x" hexadecimal (up to 32 bits, taken as
// two's complement), blanks around allowed. ParseFloat: "." as separator whatever the
// locale, finite values only, blanks around allowed. FormatFloat: "%.15g" in the "C"
// locale, i.e. the shortest text of at most 15 significant digits, exponent only for
// very large or small values ("100", "0.1", "1e-05", "1e+20").
bool ParseInteger(std::string_view text, int& value);
bool ParseFloat(std::string_view text, double& value);
std::string FormatFloat(double value);

// Replaces `path` by a file holding `bytes`, written to a temporary file in the same
// folder and renamed over it, so that a failed or interrupted save keeps the old file.
bool WriteFileAtomic(const std::string& path, std::string_view bytes);
bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes);
// The whole file; false (and `bytes` empty) when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

} // namespace marlix
