#pragma once
#include <string>

namespace marlix {

// The folder every file "beside the program" lives in, with a trailing "/".
// MARLIX_AUDIO_HOME overrides the folder of the running executable.
std::string ProgramFolder();

// Makes later ProgramFolder() calls answer `folder` (tests give each case its own).
void SetProgramFolder(const std::string& folder);

} // namespace marlix
