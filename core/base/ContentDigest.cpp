#include "base/ContentDigest.h"

#include "base/Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

// The state lives inside tContentDigest: its layout is needed here.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>
#if defined(__x86_64__)
// Debian's libxxhash picks the widest vector unit of the running processor
// (SSE2, AVX2, AVX-512): hashing a map costs a fraction of reading it.
#include <xxh_x86dispatch.h>
#define STRAVEX_XXH3_UPDATE XXH3_64bits_update_dispatch
#define STRAVEX_XXH3_ONESHOT XXH3_64bits_dispatch
#else
#define STRAVEX_XXH3_UPDATE XXH3_64bits_update
#define STRAVEX_XXH3_ONESHOT XXH3_64bits
#endif

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
  STRAVEX_XXH3_UPDATE(&fState->s, data, bytes);
  fBytes += bytes;
}

std::string tContentDigest::Hex() const { return ToHex(XXH3_64bits_digest(&fState->s)); }

std::string DigestOf(std::string_view bytes) {
  return ToHex(STRAVEX_XXH3_ONESHOT(bytes.data(), bytes.size()));
}

uint64_t DigestValue(std::string_view bytes) {
  return STRAVEX_XXH3_ONESHOT(bytes.data(), bytes.size());
}

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
