#include "analysis/Shard.h"

#include "base/Errors.h"
#include "raster/GdalMap.h"

#include <charconv>
#include <filesystem>

namespace stravex {

namespace {

constexpr int32_t kMaxShards = 1000000;

// A whole decimal number and nothing else.
bool ParseCount(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

tShard ParseShard(const std::string& text, const tGetEnv& getEnv) {
  const auto slash = text.find('/');
  int64_t k = 0, n = 0;
  if (slash == std::string::npos || !ParseCount(text.substr(slash + 1), n))
    throw EConvertError("'" + text + "' is not a shard: give K/N (K = 1..N) or auto/N");
  if (n < 1 || n > kMaxShards) RaiseRangeCheck("number of shards", n, 1, kMaxShards);
  const std::string first = text.substr(0, slash);
  if (first == "auto") {
    for (const char* name : kTaskIndexVariables) {
      const char* value = getEnv(name);
      if (!value) continue;
      if (!ParseCount(value, k))
        throw EConvertError("'" + std::string(value) + "' of " + name +
                            " is not a job-array task index");
      if (k < 1 || k > n)
        throw ERangeError(std::string(name) + " is " + value + ", outside the shards 1.." +
                          std::to_string(n) + " (number the job array's tasks 1 to " +
                          std::to_string(n) + ")");
      return {static_cast<int32_t>(k), static_cast<int32_t>(n)};
    }
    throw EConvertError("--shard auto/" + std::to_string(n) +
                        ": no job-array task index in the environment (SLURM_ARRAY_TASK_ID, "
                        "PBS_ARRAY_INDEX, PBS_ARRAYID, SGE_TASK_ID or LSB_JOBINDEX)");
  }
  if (!ParseCount(first, k))
    throw EConvertError("'" + text + "' is not a shard: give K/N (K = 1..N) or auto/N");
  if (k < 1 || k > n) RaiseRangeCheck("shard", k, 1, n);
  return {static_cast<int32_t>(k), static_cast<int32_t>(n)};
}

std::string ShardSuffix(const tShard& s) {
  return "-shard-" + std::to_string(s.Index) + "-of-" + std::to_string(s.Count);
}

std::string ShardReportName(const std::string& fixedName, const tShard& s) {
  const auto dot = fixedName.rfind('.');
  if (dot == std::string::npos) return fixedName + ShardSuffix(s);
  return fixedName.substr(0, dot) + ShardSuffix(s) + fixedName.substr(dot);
}

std::string ShardCorridorName(const std::string& corridor, const tShard& s) {
  std::string base = corridor;
  if (IsGeoTiffName(base)) base = std::filesystem::path(base).replace_extension().string();
  return base + ShardSuffix(s);
}

} // namespace stravex
