#pragma once
// The IDRISI file generation (classic ".doc"/".img" or current ".rdc"/".rst"),
// chosen once at start-up, and small operations on map file names.
#include <string>

namespace stravex {

// Process-wide extension settings, chosen once at start-up (InitIdrisiEnvironment)
// and only read afterwards; a map of the other generation is opened with its
// own (tRaster's Classic).
bool ClassicIdrisi();
const std::string& DocExt();
const std::string& ImageExt();

// Looks for "idrisi.env" in the folder of the running executable.
void InitIdrisiEnvironment();
// The same with an explicit program folder (used by the one above and by tests).
void InitIdrisiEnvironmentIn(const std::string& programFolder);
void SetIdrisiExtensions(bool classic);

std::string StripExtension(const std::string& name);
void DeleteMap(const std::string& name);

// Folder holding the running executable (no trailing separator).
std::string ProgramFolder();

} // namespace stravex
