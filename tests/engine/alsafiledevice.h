#pragma once
// A private ALSA configuration for tests: its PCMs accept any rate and format and
// write the raw bytes they are given to files, over a "null" slave, so a test can
// compare exactly what a device received.
//
// ALSA reads its configuration once per process, on the first ALSA call: make the
// device (Export) before that call, e.g. in a gtest Environment, or hand
// EnvAssignments() to a child process's command line.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace marlix::test {

class TAlsaFileDevice {
public:
    // Writes "asound.conf" into `folder` (with its trailing "/"). The PCM `pcmName`
    // writes to `folder` + pcmName + ".raw"; "default" writes to `folder` + "default.raw".
    explicit TAlsaFileDevice(const std::string& folder, const std::string& pcmName = "marlixfile")
        : ConfigPath(folder + "asound.conf"), PcmName(pcmName), OutputFile(folder + pcmName + ".raw"),
          DefaultFile(folder + "default.raw")
    {
        std::ofstream conf(ConfigPath, std::ios::trunc);
        conf << "pcm.marlix_sink { type null }\n"
             << FilePcm(PcmName, OutputFile) << FilePcm("default", DefaultFile);
    }

    // One more PCM of the same kind, writing to `file` (a named pipe makes a device that
    // blocks once the pipe is full).
    void AddFilePcm(const std::string& name, const std::string& file) const
    {
        std::ofstream conf(ConfigPath, std::ios::app);
        conf << FilePcm(name, file);
    }

    // Points this process's ALSA at the configuration and names the PCM as the extra
    // device of the wave output.
    void Export() const
    {
        setenv("ALSA_CONFIG_PATH", ConfigPath.c_str(), 1);
        setenv("MARLIX_AUDIO_ALSA_PCM", PcmName.c_str(), 1);
    }

    // The same environment as shell assignments for a child's command line.
    std::string EnvAssignments() const
    {
        return "ALSA_CONFIG_PATH='" + ConfigPath + "' MARLIX_AUDIO_ALSA_PCM='" + PcmName + "'";
    }

    // Removes what the PCMs have written so far.
    void Clear() const
    {
        std::remove(OutputFile.c_str());
        std::remove(DefaultFile.c_str());
    }

    std::string ConfigPath;
    std::string PcmName;
    std::string OutputFile;
    std::string DefaultFile;

private:
    static std::string FilePcm(const std::string& name, const std::string& file)
    {
        return "pcm." + name + " {\n  type file\n  slave.pcm \"marlix_sink\"\n  file \"" + file +
               "\"\n  format \"raw\"\n  perm 0644\n}\n";
    }
};

} // namespace marlix::test
