#pragma once
#include <string>
#include <vector>

namespace marlix {

// Owns one shared library opened at run time (RTLD_NOW | RTLD_LOCAL) and closes it when
// destroyed, unless it was released to stay loaded for the life of the process.
class TDynLib {
public:
    TDynLib() = default;
    explicit TDynLib(const std::string& path);
    ~TDynLib();
    TDynLib(TDynLib&& other) noexcept;
    TDynLib& operator=(TDynLib&& other) noexcept;
    TDynLib(const TDynLib&) = delete;
    TDynLib& operator=(const TDynLib&) = delete;

    [[nodiscard]] bool IsOpen() const { return Lib != nullptr; }
    explicit operator bool() const { return IsOpen(); }
    void* Handle() const { return Lib; }
    const std::string& Path() const { return LibPath; }

    void* Symbol(const char* name) const;
    // Sets `f` to the export `name` (null when absent); true when it was found.
    template <class F> bool Resolve(const char* name, F& f) const
    {
        f = reinterpret_cast<F>(Symbol(name));
        return f != nullptr;
    }

    void Close();
    // Keeps the library loaded after this object is gone.
    void Release() { Lib = nullptr; }

private:
    void* Lib = nullptr;
    std::string LibPath;
};

// Where the program's run-time modules ("dsdec.so", "asiohost.so", "nsp.so") are looked
// for, in order: MARLIX_AUDIO_LIBDIR, the program folder, the executable's folder.
std::vector<std::string> ModuleCandidates(const std::string& fileName);

// The first candidate that opens, or a closed library.
TDynLib OpenModule(const std::string& fileName);

} // namespace marlix
