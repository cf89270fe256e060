#include "analysis/ShardMerge.h"

#include "analysis/OutputCheck.h"
#include "analysis/ReportWriter.h"
#include "analysis/RunJournal.h"
#include "analysis/RunLog.h"
#include "analysis/Shard.h"
#include "base/AtomicFile.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "paths/Corridor.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace stravex {

namespace {

namespace fs = std::filesystem;

struct tShardFile {
  std::string Report;  // path as given
  std::string Project; // PROJECT
  std::string Kind;    // MatrixAnalysis or SequenceAnalysis
  tShard Shard;
  tRunJournal::tContents Journal;
  std::string Header;
  uint64_t Rows = 0;
  std::vector<uint64_t> RowDigests;
};

std::string Label(const tShard& s) {
  return "shard " + std::to_string(s.Index) + " of " + std::to_string(s.Count);
}

bool ParseIndex(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 7) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// PROJECT-KIND-shard-K-of-N.txt
tShardFile ParseName(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  tShardFile f;
  f.Report = path;
  const std::string ext = ".txt";
  const auto mark = name.rfind("-shard-");
  const auto of = name.rfind("-of-");
  if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0 &&
      mark != std::string::npos && of != std::string::npos && of > mark) {
    const std::string head = name.substr(0, mark);
    const bool indices = ParseIndex(name.substr(mark + 7, of - mark - 7), f.Shard.Index) &&
                         ParseIndex(name.substr(of + 4, name.size() - ext.size() - of - 4),
                                    f.Shard.Count);
    for (const char* kind : {"MatrixAnalysis", "SequenceAnalysis"}) {
      const std::string suffix = std::string("-") + kind;
      if (indices && head.size() > suffix.size() &&
          head.compare(head.size() - suffix.size(), suffix.size(), suffix) == 0 &&
          f.Shard.Count >= 1 && f.Shard.Index >= 1 && f.Shard.Index <= f.Shard.Count) {
        f.Project = head.substr(0, head.size() - suffix.size());
        f.Kind = kind;
        return f;
      }
    }
  }
  throw EInOutError(path + " is not a shard report (PROJECT-MatrixAnalysis-shard-K-of-N.txt or "
                           "PROJECT-SequenceAnalysis-shard-K-of-N.txt, K = 1..N).");
}

std::string JournalOf(const std::string& report) {
  const fs::path p(report);
  return (p.parent_path() / p.stem()).string() + ".journal";
}

// The header and the number of whole CR LF rows of a report.
void ReadReport(tShardFile& f) {
  std::ifstream in(f.Report, std::ios::binary);
  if (!in) throw EInOutError(f.Report + " not found.");
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (line.empty() || line.back() != '\r') {
      if (in.eof()) break; // a cut last line is not a row
      throw EInOutError(f.Report + ": a line does not end with CR LF; it is not a report.");
    }
    line.pop_back();
    if (first) {
      f.Header = line;
    } else {
      ++f.Rows;
      f.RowDigests.push_back(DigestValue(line));
    }
    first = false;
  }
  if (in.bad()) throw EInOutError(f.Report + " cannot be read.");
  if (first) throw EInOutError(f.Report + " is empty; it is not a report.");
}

std::optional<std::string> Setting(const std::vector<std::string>& lines, const std::string& key) {
  for (const std::string& l : lines)
    if (l.rfind(key + "\t", 0) == 0) return l.substr(key.size() + 1);
  return std::nullopt;
}

void CheckSameSettings(const tShardFile& first, const tShardFile& f) {
  const auto d = FirstDifference(first.Journal.Settings, f.Journal.Settings);
  if (!d) return;
  if (!d->ChangedInput.empty())
    throw EInOutError("The shards are not of one run: the " + d->ChangedInput +
                      " has the fingerprint " + d->WasPrint + " in " + Label(first.Shard) + " (" +
                      first.Report + ") and " + d->NowPrint + " in " + Label(f.Shard) + " (" +
                      f.Report + "). Nothing was written.");
  throw EInOutError("The shards are not of one run: " + d->Key + " is \"" + d->Was + "\" in " +
                    Label(first.Shard) + " (" + first.Report + ") and \"" + d->Now + "\" in " +
                    Label(f.Shard) + " (" + f.Report + "). Nothing was written.");
}

// The report's rows are those its run wrote, in their order.
void CheckRows(const tShardFile& f) {
  const std::string journal = JournalOf(f.Report);
  const std::vector<uint64_t> recorded =
      tRunJournal::ReadDigests(tRunJournal::DigestsPathOf(journal));
  const uint64_t complete = *f.Journal.CompleteRows;
  if (recorded.size() != complete)
    throw EInOutError(tRunJournal::DigestsPathOf(journal) + " holds " +
                      std::to_string(recorded.size()) + " row digests where " + journal +
                      " recorded " + std::to_string(complete) +
                      " rows: they are not of one run. Nothing was written.");
  if (const auto row = FirstDifferentRow(f.RowDigests, recorded))
    throw EInOutError(f.Report + " was changed after its run: row " + std::to_string(*row + 1) +
                      " (line " + std::to_string(*row + 2) + ")" +
                      (*row < complete ? " is not the row its journal recorded there"
                                       : " was never recorded in its journal") +
                      " (an edited, removed, duplicated or reordered row). Nothing was written.");
  if (f.Rows != complete)
    throw EInOutError(f.Report + " holds " + std::to_string(f.Rows) + " rows, its journal " +
                      std::to_string(complete) + ": rows from row " + std::to_string(f.Rows + 1) +
                      " on were removed after its run. Nothing was written.");
}

// The shards 1..N in order, each checked on its own and against shard 1.
std::vector<tShardFile> CheckShards(const std::vector<std::string>& reports) {
  if (reports.empty()) throw EInOutError("No shard report to merge.");
  std::vector<tShardFile> files;
  for (const std::string& r : reports) files.push_back(ParseName(r));
  // Copied: the files are moved into their slots below.
  const tShardFile any = files.front();
  for (const tShardFile& f : files)
    if (f.Project != any.Project || f.Kind != any.Kind || f.Shard.Count != any.Shard.Count)
      throw EInOutError("The shards are not of one run: " + f.Report + " and " + any.Report +
                        " differ in project, analysis or number of shards. Nothing was written.");
  const int32_t n = any.Shard.Count;
  std::vector<std::optional<tShardFile>> byIndex(static_cast<std::size_t>(n));
  for (tShardFile& f : files) {
    auto& slot = byIndex[static_cast<std::size_t>(f.Shard.Index - 1)];
    if (slot)
      throw EInOutError(Label(f.Shard) + " is given twice: " + slot->Report + " and " + f.Report +
                        ". Nothing was written.");
    slot = std::move(f);
  }
  std::string missing;
  for (int32_t k = 1; k <= n; ++k)
    if (!byIndex[static_cast<std::size_t>(k - 1)])
      missing += (missing.empty() ? "" : ", ") + std::to_string(k);
  if (!missing.empty())
    throw EInOutError("Shards missing: " + missing + " of " + std::to_string(n) + " (" +
                      any.Project + "-" + any.Kind + "-shard-K-of-" + std::to_string(n) +
                      ".txt). Nothing was written.");

  std::vector<tShardFile> shards;
  for (auto& f : byIndex) shards.push_back(std::move(*f));
  uint64_t total = 0;
  for (tShardFile& f : shards) {
    f.Journal = tRunJournal::Read(JournalOf(f.Report));
    if (!f.Journal.CompleteRows)
      throw EInOutError(Label(f.Shard) + " has not finished (" + JournalOf(f.Report) +
                        "): run it again with --resume. Nothing was written.");
  }
  for (tShardFile& f : shards) {
    ReadReport(f);
    CheckSameSettings(shards.front(), f);
    CheckRows(f);
    if (f.Header != shards.front().Header)
      throw EInOutError("The shards are not of one run: " + f.Report + " has another header than " +
                        shards.front().Report + ". Nothing was written.");
    total += f.Rows;
  }
  // Row r is in shard r mod N + 1.
  for (const tShardFile& f : shards) {
    const auto k = static_cast<uint64_t>(f.Shard.Index - 1);
    const uint64_t want =
        total > k ? (total - k + static_cast<uint64_t>(n) - 1) / static_cast<uint64_t>(n) : 0;
    if (f.Rows != want)
      throw EInOutError("The shards are not of one run: " + Label(f.Shard) + " holds " +
                        std::to_string(f.Rows) + " rows where " + std::to_string(want) +
                        " belong to it. Nothing was written.");
  }
  return shards;
}

std::string InFolder(const std::string& workDir, const std::string& name) {
  if (workDir.empty() || fs::path(name).is_absolute()) return name;
  return (fs::path(workDir) / name).string();
}

// The merge's files, each written to a temporary beside its target and
// renamed in only once every one is complete: a merge that fails leaves
// every existing file as it was and creates none.
class tMergeOutput {
public:
  ~tMergeOutput() {
    std::error_code ec;
    for (const std::string& t : fScratch) fs::remove(t, ec);
  }
  tAtomicFile& Add(const std::string& target) {
    fFiles.push_back(std::make_unique<tAtomicFile>(target));
    return *fFiles.back();
  }
  // A file made under a name of its own (a GeoTIFF), renamed over target at Commit.
  void AddRename(const std::string& made, const std::string& target) {
    fScratch.push_back(made);
    fRenames.emplace_back(made, target);
  }
  // A helper file removed once the merge ends, however it ends.
  void AddScratch(const std::string& path) { fScratch.push_back(path); }
  void Commit() {
    for (auto& f : fFiles) f->Finish();
    for (const auto& [made, target] : fRenames) {
      std::error_code ec;
      fs::rename(made, target, ec);
      if (ec) throw EInOutError("Cannot write to file \"" + target + "\": " + ec.message());
    }
    for (auto& f : fFiles) f->Commit();
  }

private:
  std::vector<std::unique_ptr<tAtomicFile>> fFiles;
  std::vector<std::pair<std::string, std::string>> fRenames;
  std::vector<std::string> fScratch;
};

void WriteReport(const std::vector<tShardFile>& shards, tAtomicFile& out) {
  std::vector<std::ifstream> in;
  for (const tShardFile& f : shards) {
    in.emplace_back(f.Report, std::ios::binary);
    std::string header;
    std::getline(in.back(), header);
  }
  out.Write(shards.front().Header + "\r\n");
  std::string line;
  for (bool more = true; more;)
    for (std::size_t k = 0; k < shards.size(); ++k) {
      if (!std::getline(in[k], line) || line.empty() || line.back() != '\r') {
        more = false;
        break;
      }
      line += '\n';
      out.Write(line);
    }
}

std::string ReadImage(const std::string& path, uint64_t bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInOutError(path + " not found.");
  std::string data(bytes, '\0');
  in.read(data.data(), static_cast<std::streamsize>(bytes));
  if (static_cast<uint64_t>(in.gcount()) != bytes || in.peek() != std::char_traits<char>::eof())
    throw EInOutError(path + " does not hold " + std::to_string(bytes / 2) +
                      " 16-bit cells; it is not the corridor shard of this run.");
  return data;
}

// A shard's corridor map (name without extension), found beside its report.
std::string ShardMapPath(const tShardFile& f, const std::string& corridor) {
  const std::string shardName = ShardCorridorName(corridor, f.Shard);
  return fs::path(corridor).is_absolute() ? shardName
                                          : (fs::path(f.Report).parent_path() / shardName).string();
}

// The corridor map of the whole run: the shards' counts added, with the
// documentation of the shard that holds the run's first row with paths
// (that row fixed the display range).
std::string MergeCorridor(const std::vector<tShardFile>& shards, const std::string& name,
                          const std::string& workDir, tReporter& reporter, tMergeOutput& output) {
  const tShardFile* leader = &shards.front();
  for (const tShardFile& f : shards)
    if (f.Journal.FirstCorridorRow &&
        (!leader->Journal.FirstCorridorRow ||
         *f.Journal.FirstCorridorRow < *leader->Journal.FirstCorridorRow))
      leader = &f;

  auto shardMap = [&name](const tShardFile& f) { return ShardMapPath(f, name); };
  auto open = [](const std::string& map) {
    auto r = std::make_unique<tRaster>();
    r->ReadDoc(map + r->DocExtension());
    r->FileName = map;
    return r;
  };
  std::unique_ptr<tRaster> out = open(shardMap(*leader));
  const uint64_t cells = static_cast<uint64_t>(out->Rows) * static_cast<uint64_t>(out->Columns);
  if (out->DataType != dtInteger || cells == 0)
    throw EInOutError(shardMap(*leader) + " is not a corridor map.");
  std::vector<int32_t> sums(cells, 0);
  for (const tShardFile& f : shards) {
    const std::string map = shardMap(f);
    const std::unique_ptr<tRaster> doc = open(map);
    if (doc->Rows != out->Rows || doc->Columns != out->Columns || doc->DataType != dtInteger)
      throw EInOutError(map + " has another grid than " + shardMap(*leader) +
                        ". Nothing was written.");
    const std::string image = ReadImage(map + doc->ImageExtension(), cells * 2);
    for (uint64_t i = 0; i < cells; ++i) {
      const auto lo = static_cast<unsigned char>(image[2 * i]);
      const auto hi = static_cast<unsigned char>(image[2 * i + 1]);
      const auto v = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
      if (v < 0) throw EInOutError(map + " holds a negative count; it is not a corridor map.");
      // Every shard's count is at most 32767: the sum of a million stays far within int32.
      sums[i] = std::min<int32_t>(sums[i] + v, CorridorMaxCount + 1);
    }
  }
  std::string bytes(cells * 2, '\0');
  int32_t largest = 0;
  bool saturated = false;
  for (uint64_t i = 0; i < cells; ++i) {
    saturated = saturated || sums[i] > CorridorMaxCount;
    const auto v = static_cast<uint16_t>(std::min(sums[i], CorridorMaxCount));
    largest = std::max<int32_t>(largest, v);
    bytes[2 * i] = static_cast<char>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(v >> 8);
  }
  out->FileName = InFolder(workDir, name);
  out->MinValue = 0;
  out->MaxValue = static_cast<float>(largest);
  const std::string target = out->FileName;
  if (IsGeoTiffName(name)) {
    // The GeoTIFF is made from an IDRISI copy under hidden names of its own.
    const fs::path t(target);
    out->FileName =
        (t.parent_path() / ("." + t.filename().string() + ".merge-" + std::to_string(::getpid())))
            .string();
    output.AddScratch(out->FileName + out->ImageExtension());
    output.AddScratch(out->FileName + out->DocExtension());
    WriteFileAtomically(out->FileName + out->ImageExtension(), bytes);
    WriteFileAtomically(out->FileName + out->DocExtension(), out->DocText());
    const std::string tif = out->FileName + ".tif";
    output.AddRename(tif, target);
    WriteGeoTiff(*out, tif);
  } else {
    output.Add(out->FileName + out->ImageExtension()).Write(bytes);
    output.Add(out->FileName + out->DocExtension()).Write(out->DocText());
  }
  if (saturated)
    reporter.Warning("Corridor map " + target + ": some cells were crossed by more than " +
                     std::to_string(CorridorMaxCount) + " paths; their count is held at " +
                     std::to_string(CorridorMaxCount) + ".");
  return target;
}

// Every file the merge writes.
tOutputPlan MergeOutputs(const std::string& report, const std::string& corridor,
                         const std::string& logPath) {
  tOutputPlan plan;
  plan.Files.push_back({"report", report});
  if (!corridor.empty()) {
    if (IsGeoTiffName(corridor)) {
      plan.Files.push_back({"corridor map", corridor});
    } else {
      const tRaster naming;
      plan.Files.push_back({"corridor map", corridor + naming.ImageExtension()});
      plan.Files.push_back({"corridor map", corridor + naming.DocExtension()});
    }
  }
  if (!logPath.empty()) plan.Files.push_back({"log", logPath});
  return plan;
}

// Every file the merge reads: the shards' reports, journals, row digests and
// corridor maps.
std::vector<tRunFile> MergeInputs(const std::vector<tShardFile>& shards,
                                  const std::string& corridor) {
  std::vector<tRunFile> files;
  const tRaster naming;
  for (const tShardFile& f : shards) {
    const std::string journal = JournalOf(f.Report);
    files.push_back({"shard report", f.Report});
    files.push_back({"shard journal", journal});
    files.push_back({"shard row digests", tRunJournal::DigestsPathOf(journal)});
    if (corridor.empty()) continue;
    const std::string map = ShardMapPath(f, corridor);
    files.push_back({"corridor shard", map + naming.DocExtension()});
    files.push_back({"corridor shard", map + naming.ImageExtension()});
  }
  return files;
}

} // namespace

std::vector<tWrittenFile> MergeShards(const std::vector<std::string>& shardReports,
                                      const std::string& workDir, tReporter& reporter,
                                      const std::string& logPath) {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<tShardFile> shards = CheckShards(shardReports);
  const tShardFile& first = shards.front();
  std::vector<tWrittenFile> files;
  const std::string report = InFolder(workDir, first.Project + "-" + first.Kind + ".txt");

  const std::vector<std::string>& settings = first.Journal.Settings;
  const std::string corridor = Setting(settings, "corridor map").value_or("");
  const bool perPair = first.Kind == "MatrixAnalysis" &&
                       Setting(settings, "one map per pair").value_or("0") != "0";
  const std::string corridorTarget = !corridor.empty() && !perPair ? InFolder(workDir, corridor)
                                                                   : std::string();
  const tOutputPlan outputs = MergeOutputs(report, corridorTarget, logPath);
  try {
    for (const tRunFile& f : outputs.Files) RequireWritable(f.Path);
  } catch (const EInOutError& e) {
    throw EInOutError(std::string(e.what()) + ". Nothing was written.");
  }
  RequireSeparateFiles(outputs, MergeInputs(shards, corridorTarget.empty() ? "" : corridor),
                       "Nothing was written");
  // Held until the last file is renamed in.
  tOutputLocks locks;
  locks.Take(outputs, "Nothing was written");

  tMergeOutput output;
  std::string corridorPath;
  if (!corridorTarget.empty())
    corridorPath = MergeCorridor(shards, corridor, workDir, reporter, output);
  WriteReport(shards, output.Add(report));
  files.push_back({tFileKind::Report, report});
  if (!corridorPath.empty()) files.push_back({tFileKind::CorridorMap, corridorPath});
  if (!logPath.empty()) files.push_back({tFileKind::Log, logPath});
  // The shards' log (the first shard's: they hold the same lines), closed by
  // the merge's own files and time.
  std::vector<std::string> lines = first.Journal.LogLines;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  const std::vector<std::string> written = FilesWrittenLines(files);
  lines.insert(lines.end(), written.begin(), written.end());
  lines.push_back("Merged " + std::to_string(shards.size()) + " shards in " +
                  ElapsedText(elapsed.count()));
  for (const std::string& line : lines) reporter.Log(line);
  if (!logPath.empty()) {
    tAtomicFile& log = output.Add(logPath);
    for (const std::string& line : lines) log.Write(line + "\r\n");
  }
  output.Commit();
  return files;
}

} // namespace stravex
