#pragma once
// Content fingerprints of inputs and report rows: XXH3-64, written as 16
// lower-case hex digits. They catch mistakes (an edited row, a rewritten map),
// not attacks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace stravex {

// A digest fed piece by piece while a file is read, so hashing costs no second read.
class tContentDigest {
public:
  tContentDigest();
  ~tContentDigest();
  tContentDigest(const tContentDigest&) = delete;
  tContentDigest& operator=(const tContentDigest&) = delete;

  void Reset();
  void Update(const void* data, std::size_t bytes);
  uint64_t Bytes() const { return fBytes; }
  std::string Hex() const;

private:
  struct tState;
  std::unique_ptr<tState> fState;
  uint64_t fBytes = 0;
};

std::string DigestOf(std::string_view bytes);
// The same digest as a number, and its 16-digit form.
uint64_t DigestValue(std::string_view bytes);
std::string DigestHex(uint64_t digest);
// The digest of a file's bytes; EInOutError naming the file when it cannot be read.
std::string DigestOfFile(const std::string& path);

} // namespace stravex
