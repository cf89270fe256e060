#pragma once
// The program's own version number, fixed at build time from the project version.
#include <QString>
#include <cstdint>

namespace stravex::gui {

struct tFileVersion {
  uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
};

// Four parts (major, minor, release, build); parts the project leaves out are 0.
tFileVersion GetFileVersion();

// The first n parts joined by "."; n is clamped into 1..4.
QString GetVersionString(int n);

} // namespace stravex::gui
