#include "RunJournal.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "Raster.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace stravex {

namespace {

namespace fs = std::filesystem;

const char* const kJournalTitle = "Stravex run journal 1";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInOutError(path + " not found.");
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) throw EInOutError(path + ": " + std::strerror(errno));
  return s.str();
}

// FNV-1a of a file's bytes and its size; "missing" when it cannot be read.
std::string Fingerprint(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "missing";
  uint64_t h = 1469598103934665603ull, size = 0;
  unsigned char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ buf[i]) * 1099511628211ull;
    size += n;
  }
  std::fclose(f);
  char out[48];
  std::snprintf(out, sizeof out, "%llu bytes %016llx", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(h));
  return out;
}

// The documentation file in full and the image's size: hashing whole images
// of several gigabytes would cost more than a resume saves.
std::string MapFingerprint(const tRaster& map) {
  std::error_code ec;
  const auto imageSize = fs::file_size(map.FileName + map.ImageExtension(), ec);
  return map.FileName + "\t" + Fingerprint(map.FileName + map.DocExtension()) + "\timage " +
         (ec ? std::string("missing") : std::to_string(imageSize) + " bytes");
}

std::string Key(const std::string& line) { return line.substr(0, line.find('\t')); }

} // namespace

tRunJournal::tRunJournal(const std::string& reportPath, std::vector<std::string> settings)
    : fSettings(std::move(settings)) {
  const fs::path p(reportPath);
  fPath = (p.parent_path() / p.stem()).string() + ".journal";
}

void tRunJournal::Begin() {
  fPending.reset();
  fCells.clear();
  fFirstCorridorRow.reset();
  fCompleteRows.reset();
  fLogLines.clear();
  Write();
}

namespace {

// Parses a journal; pending cells go to cells.
struct tParsed {
  tRunJournal::tContents Contents;
  std::optional<uint64_t> Pending;
  std::vector<tCorridorMap::tCellCount> Cells;
};

uint64_t Number(const std::string& path, const std::string& line, std::size_t from) {
  const std::string text = line.substr(from);
  uint64_t v = 0;
  std::size_t used = 0;
  try {
    v = std::stoull(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-')
    throw EInOutError(path + ": bad line \"" + line + "\".");
  return v;
}

tParsed Parse(const std::string& path) {
  std::istringstream in(ReadWhole(path));
  std::string line;
  if (!std::getline(in, line) || line != kJournalTitle)
    throw EInOutError(path + " is not a run journal; the report cannot be continued.");
  tParsed p;
  bool ended = false;
  while (!ended && std::getline(in, line)) {
    if (line == "end") {
      ended = true;
    } else if (line.rfind("setting\t", 0) == 0) {
      p.Contents.Settings.push_back(line.substr(8));
    } else if (line.rfind("pending\t", 0) == 0) {
      p.Pending = Number(path, line, 8);
    } else if (line.rfind("cell\t", 0) == 0) {
      std::istringstream f(line.substr(5));
      uint64_t index = 0;
      int value = 0;
      if (!(f >> index >> value) || value < 0 || value > CorridorMaxCount)
        throw EInOutError(path + ": bad cell line \"" + line + "\".");
      p.Cells.emplace_back(index, static_cast<int16_t>(value));
    } else if (line.rfind("first corridor row\t", 0) == 0) {
      p.Contents.FirstCorridorRow = Number(path, line, 19);
    } else if (line.rfind("complete\t", 0) == 0) {
      p.Contents.CompleteRows = Number(path, line, 9);
    } else if (line.rfind("log\t", 0) == 0) {
      p.Contents.LogLines.push_back(line.substr(4));
    } else {
      throw EInOutError(path + ": unknown line \"" + line + "\".");
    }
  }
  if (!ended) throw EInOutError(path + " is incomplete; the report cannot be continued.");
  return p;
}

} // namespace

tRunJournal::tContents tRunJournal::Read(const std::string& path) { return Parse(path).Contents; }

void tRunJournal::Load() {
  tParsed p = Parse(fPath);
  const std::vector<std::string>& settings = p.Contents.Settings;
  fPending = p.Pending;
  fCells = std::move(p.Cells);
  fFirstCorridorRow = p.Contents.FirstCorridorRow;
  // A resumed run ends anew.
  fCompleteRows.reset();
  fLogLines.clear();
  for (std::size_t i = 0; i < std::max(settings.size(), fSettings.size()); ++i) {
    const std::string was = i < settings.size() ? settings[i] : std::string();
    const std::string now = i < fSettings.size() ? fSettings[i] : std::string();
    if (was == now) continue;
    const std::string key = Key(was.empty() ? now : was);
    auto value = [](const std::string& l) {
      const auto tab = l.find('\t');
      return tab == std::string::npos ? std::string("(none)") : l.substr(tab + 1);
    };
    throw EInOutError("The report was made with other settings (" + fPath + "): " + key +
                      " was \"" + (was.empty() ? "(none)" : value(was)) + "\", this run has \"" +
                      (now.empty() ? "(none)" : value(now)) + "\". Nothing was changed.");
  }
}

void tRunJournal::BeforeCorridor(uint64_t item,
                                 const std::vector<tCorridorMap::tCellCount>& cells) {
  fPending = item;
  fCells = cells;
  Write();
}

void tRunJournal::NoteFirstCorridorRow(uint64_t row) {
  if (fFirstCorridorRow) return;
  fFirstCorridorRow = row;
  Write();
}

void tRunJournal::Complete(uint64_t rows, const std::vector<std::string>& logLines) {
  fCompleteRows = rows;
  fLogLines = logLines;
  Write();
}

void tRunJournal::Write() const {
  std::string text = std::string(kJournalTitle) + "\n";
  for (const std::string& s : fSettings) text += "setting\t" + s + "\n";
  if (fPending) {
    text += "pending\t" + std::to_string(*fPending) + "\n";
    for (const auto& [index, value] : fCells)
      text += "cell\t" + std::to_string(index) + "\t" + std::to_string(value) + "\n";
  }
  if (fFirstCorridorRow) text += "first corridor row\t" + std::to_string(*fFirstCorridorRow) + "\n";
  if (fCompleteRows) {
    text += "complete\t" + std::to_string(*fCompleteRows) + "\n";
    // A log line never holds a line break.
    for (const std::string& l : fLogLines) text += "log\t" + l + "\n";
  }
  text += "end\n";
  // A kill leaves either the old journal or the new one.
  WriteFileAtomically(fPath, text);
}

std::vector<std::string> RunSettingsLines(const TAnalysisSettings& s, const tMapSet& maps,
                                          const std::string& dataFile, const tRaster* friction) {
  std::vector<std::string> lines;
  auto add = [&lines](const std::string& key, const std::string& value) {
    lines.push_back(key + "\t" + value);
  };
  auto num = [](int64_t v) { return std::to_string(v); };
  add("data structure", num(s.DataStructure));
  add("connectivity", num(s.Connectivity));
  add("path width", num(s.PathWidth));
  add("project", s.ProjectName);
  add("data file", s.DataFile + "\t" + Fingerprint(dataFile));
  for (const auto& m : maps.BinaryMaps) add("binary map", MapFingerprint(*m));
  for (const auto& m : maps.QuantitativeMaps) add("quantitative map", MapFingerprint(*m));
  if (maps.TopographyMap) add("topography map", MapFingerprint(*maps.TopographyMap));
  if (s.DataStructure == dsPopulationMatrix) {
    add("delaunay", num(s.DelaunayUse));
    add("pair distance threshold", num(s.PairDistanceThreshold));
  } else {
    add("ignore time", num(s.IgnoreTime) + " " + num(s.IgnoreUnit));
  }
  if (UsesFriction(s.Connectivity)) {
    add("friction map", friction ? MapFingerprint(*friction) : std::string("none"));
    add("seed", num(s.Seed));
    add("minimise", num(s.Minimise));
    add("friction weight", s.FrictionWeight);
    add("length weight", s.LengthWeight);
    add("corridor map", s.CorridorMapName);
    add("one map per pair", num(s.OneMapPerPair));
    if (s.DataStructure == dsPopulationMatrix) {
      add("direction", num(s.Direction));
      add("elevation tolerance", s.ElevationTolerance);
    }
  }
  return lines;
}

tKeptReport ReadKeptReport(const std::string& reportPath, const std::string& header) {
  const std::string text = ReadWhole(reportPath);
  const std::string first = header + "\r\n";
  if (text.compare(0, first.size(), first) != 0)
    throw EInOutError("The report " + reportPath +
                      " has another header than this run's (other maps or options); nothing was "
                      "changed.");
  tKeptReport kept;
  kept.Bytes = first.size();
  std::size_t start = first.size();
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    ++kept.Rows;
    kept.LastRow = text.substr(start, end - start);
    kept.Bytes = end + 2;
  }
  return kept;
}

} // namespace stravex
