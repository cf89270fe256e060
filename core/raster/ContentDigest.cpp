#include "ContentDigest.h"

#include "Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace stravex {

namespace {

std::string ToHex(XXH64_hash_t h) {
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return out;
}

} // namespace

struct tContentDigest::tState {
  XXH3_state_t s;
};

tContentDigest::tContentDigest() : fState(std::make_unique<tState>()) { Reset(); }
tContentDigest::~tContentDigest() = default;

void tContentDigest::Reset() {
  XXH3_64bits_reset(&fState->s);
  fBytes = 0;
}

void tContentDigest::Update(const void* data, std::size_t bytes) {
  if (bytes == 0) return;
  XXH3_64bits_update(&fState->s, data, bytes);
  fBytes += bytes;
}

std::string tContentDigest::Hex() const { return ToHex(XXH3_64bits_digest(&fState->s)); }

std::string DigestOf(std::string_view bytes) {
  return ToHex(XXH3_64bits(bytes.data(), bytes.size()));
}

uint64_t DigestValue(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

std::string DigestHex(uint64_t digest) { return ToHex(digest); }

std::string DigestOfFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw EInOutError(path + " cannot be read: " + std::strerror(errno));
  tContentDigest d;
  static thread_local char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.Update(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) throw EInOutError(path + " cannot be read: " + std::strerror(err));
  return d.Hex();
}

} // namespace stravex
