#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace marlix::test {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes. Path() ends with "/".
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// A TempDir that also serves as the program folder while it lives.
class TempProgramFolder : public TempDir {
public:
    TempProgramFolder();
    ~TempProgramFolder();
};

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// Runs a shell command and returns what it printed on standard output; `status` gets
// its exit status.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveProgram(const std::string& name);

} // namespace marlix::test
