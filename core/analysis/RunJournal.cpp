#include "analysis/RunJournal.h"

#include "analysis/ReportWriter.h"
#include "base/AtomicFile.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "raster/Raster.h"

#include <cstring>
#include <filesystem>
#include <sstream>

namespace stravex {

namespace {

namespace fs = std::filesystem;

const char* const kJournalTitle = "Stravex run journal 2";
// Journals of earlier versions hold no fingerprints of the images and no row digests.
const char* const kOldJournalTitle = "Stravex run journal 1";
const char* const kDigestsTitle = "Stravex row digests 1";

std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

std::string AbsoluteOf(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

std::string OrNotRead(const std::string& digest) { return digest.empty() ? "not read" : digest; }

// A map by its file name and the fingerprints of what was read of it.
std::string MapIdentity(const tRaster& map) {
  return NameOf(map.FileName) + "\tdoc " + OrNotRead(map.DocDigest) + ", image " +
         OrNotRead(map.ImageDigest);
}

std::string DataIdentity(const std::string& path) {
  std::string print;
  try {
    print = DigestOfFile(path);
  } catch (const EInOutError&) {
    print = "unreadable";
  }
  return NameOf(path) + "\t" + print;
}

std::string Key(const std::string& line) { return line.substr(0, line.find('\t')); }

std::string Value(const std::string& line) {
  const auto tab = line.find('\t');
  return tab == std::string::npos ? std::string("(none)") : line.substr(tab + 1);
}

} // namespace

std::string tRunJournal::DigestsPathOf(const std::string& journalPath) {
  return fs::path(journalPath).replace_extension(".digests").string();
}

tRunJournal::tRunJournal(const std::string& reportPath, std::vector<std::string> settings,
                         std::vector<std::string> inputPaths)
    : fSettings(std::move(settings)), fInputPaths(std::move(inputPaths)) {
  const fs::path p(reportPath);
  fPath = (p.parent_path() / p.stem()).string() + ".journal";
  fDigestsPath = DigestsPathOf(fPath);
}

tRunJournal::~tRunJournal() = default;

void tRunJournal::Begin() {
  fPending.reset();
  fCells.clear();
  fFirstCorridorRow.reset();
  fCompleteRows.reset();
  fLogLines.clear();
  Write();
  fDigests = std::make_unique<tReportFile>(fDigestsPath);
  fDigests->WriteLine(kDigestsTitle);
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
  std::istringstream in(ReadWholeFile(path));
  std::string line;
  const bool titled = static_cast<bool>(std::getline(in, line));
  if (titled && line == kOldJournalTitle)
    throw EInOutError(path +
                      " was written by an earlier version of Stravex, which did not "
                      "fingerprint the inputs and rows; start the run anew without --resume.");
  if (!titled || line != kJournalTitle)
    throw EInOutError(path + " is not a run journal; the report cannot be continued.");
  tParsed p;
  bool ended = false;
  while (!ended && std::getline(in, line)) {
    if (line == "end") {
      ended = true;
    } else if (line.rfind("setting\t", 0) == 0) {
      p.Contents.Settings.push_back(line.substr(8));
    } else if (line.rfind("input\t", 0) == 0) {
      // Where the inputs were: information only.
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

uint64_t HexValue(const std::string& text, bool& ok) {
  uint64_t v = 0;
  ok = text.size() == 16;
  for (std::size_t i = 0; ok && i < text.size(); ++i) {
    const char c = text[i];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    ok = d >= 0;
    v = (v << 4) | static_cast<uint64_t>(d < 0 ? 0 : d);
  }
  return v;
}

} // namespace

tRunJournal::tContents tRunJournal::Read(const std::string& path) { return Parse(path).Contents; }

std::vector<uint64_t> tRunJournal::ReadDigests(const std::string& path) {
  const std::string text = ReadWholeFile(path);
  const std::string title = std::string(kDigestsTitle) + "\r\n";
  if (text.compare(0, title.size(), title) != 0)
    throw EInOutError(path + " does not hold row digests; the report cannot be checked.");
  std::vector<uint64_t> digests;
  std::size_t start = title.size();
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    bool ok = false;
    digests.push_back(HexValue(text.substr(start, end - start), ok));
    if (!ok)
      throw EInOutError(path + ": line " + std::to_string(digests.size() + 1) +
                        " is not a row digest; the report cannot be checked.");
  }
  return digests;
}

void tRunJournal::Load() {
  tParsed p = Parse(fPath);
  fPending = p.Pending;
  fCells = std::move(p.Cells);
  fFirstCorridorRow = p.Contents.FirstCorridorRow;
  // A resumed run ends anew.
  fCompleteRows.reset();
  fLogLines.clear();
  if (const auto d = FirstDifference(p.Contents.Settings, fSettings)) {
    if (!d->ChangedInput.empty())
      throw EInOutError("The " + d->ChangedInput + " is not the file the report was made from (" +
                        fPath + "): its fingerprint was " + d->WasPrint + ", it is now " +
                        d->NowPrint +
                        ". Nothing was changed; give the report's inputs, or run "
                        "without --resume to start anew.");
    throw EInOutError("The report was made with other settings (" + fPath + "): " + d->Key +
                      " was \"" + d->Was + "\", this run has \"" + d->Now +
                      "\". Nothing was changed; give the report's settings, or run without "
                      "--resume to start anew.");
  }
  fRecorded = ReadDigests(fDigestsPath);
}

void tRunJournal::CheckKeptRows(const std::string& reportPath, const tKeptReport& kept) const {
  const auto row = FirstDifferentRow(kept.RowDigests, fRecorded);
  if (!row) return;
  const std::string which = "row " + std::to_string(*row + 1) + " (line " +
                            std::to_string(*row + 2) + ")";
  const std::string what = *row < fRecorded.size() ? " is not the row its journal recorded there"
                                                   : " was never recorded in its journal";
  throw EInOutError("The report " + reportPath + " was changed after its run: " + which + what +
                    " (an edited, removed, duplicated or reordered row). Start the run anew "
                    "without --resume; nothing was changed.");
}

void tRunJournal::ContinueDigests(uint64_t rows) {
  fRecorded.clear();
  fRecorded.shrink_to_fit();
  // The title's line and 16 digits and CR LF a row.
  fDigests = std::make_unique<tReportFile>(fDigestsPath,
                                           std::strlen(kDigestsTitle) + 2 + rows * 18);
}

void tRunJournal::BeforeRow(std::string_view row) {
  fDigests->WriteLine(DigestHex(DigestValue(row)));
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
  if (fDigests) fDigests->Close();
  fCompleteRows = rows;
  fLogLines = logLines;
  Write();
}

void tRunJournal::Write() const {
  std::string text = std::string(kJournalTitle) + "\n";
  for (const std::string& s : fSettings) text += "setting\t" + s + "\n";
  for (const std::string& s : fInputPaths) text += "input\t" + s + "\n";
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

std::optional<uint64_t> FirstDifferentRow(const std::vector<uint64_t>& rows,
                                          const std::vector<uint64_t>& recorded) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (i >= recorded.size() || rows[i] != recorded[i]) return i;
  return std::nullopt;
}

std::optional<tSettingDifference> FirstDifference(const std::vector<std::string>& was,
                                                  const std::vector<std::string>& now) {
  for (std::size_t i = 0; i < std::max(was.size(), now.size()); ++i) {
    const std::string a = i < was.size() ? was[i] : std::string();
    const std::string b = i < now.size() ? now[i] : std::string();
    if (a == b) continue;
    tSettingDifference d;
    d.Key = Key(a.empty() ? b : a);
    d.Was = a.empty() ? "(none)" : Value(a);
    d.Now = b.empty() ? "(none)" : Value(b);
    // key, name, fingerprint
    const auto wasTab = d.Was.find('\t'), nowTab = d.Now.find('\t');
    if (Key(a) == Key(b) && wasTab != std::string::npos && nowTab != std::string::npos &&
        d.Was.substr(0, wasTab) == d.Now.substr(0, nowTab)) {
      d.ChangedInput = d.Key + " " + d.Was.substr(0, wasTab);
      d.WasPrint = d.Was.substr(wasTab + 1);
      d.NowPrint = d.Now.substr(nowTab + 1);
    }
    return d;
  }
  return std::nullopt;
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
  add("cell rule", s.CellRule == crRounded ? "rounded" : "containing");
  add("data file", DataIdentity(dataFile));
  for (const auto& m : maps.BinaryMaps) add("binary map", MapIdentity(*m));
  for (const auto& m : maps.QuantitativeMaps) add("quantitative map", MapIdentity(*m));
  if (maps.TopographyMap) add("topography map", MapIdentity(*maps.TopographyMap));
  if (s.DataStructure == dsPopulationMatrix) {
    add("delaunay", num(s.DelaunayUse));
    add("pair distance threshold", num(s.PairDistanceThreshold));
  } else {
    add("ignore time", num(s.IgnoreTime) + " " + num(s.IgnoreUnit));
  }
  if (UsesFriction(s.Connectivity)) {
    add("friction map", friction ? MapIdentity(*friction) : std::string("none"));
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
  } else if (s.Connectivity == caResistanceDistance) {
    // The iterative solver's resistances differ from the direct one's in the
    // last digits: a resumed run must solve as the interrupted one did.
    add("friction map", friction ? MapIdentity(*friction) : std::string("none"));
    add("resistance solver", num(s.ResistanceSolver));
    add("corridor map", s.CorridorMapName);
    add("one map per pair", num(s.OneMapPerPair));
  }
  return lines;
}

std::vector<std::string> RunInputPaths(const tMapSet& maps, const std::string& dataFile,
                                       const tRaster* friction) {
  std::vector<std::string> lines{"data file\t" + AbsoluteOf(dataFile)};
  for (const auto& m : maps.BinaryMaps) lines.push_back("binary map\t" + AbsoluteOf(m->FileName));
  for (const auto& m : maps.QuantitativeMaps)
    lines.push_back("quantitative map\t" + AbsoluteOf(m->FileName));
  if (maps.TopographyMap)
    lines.push_back("topography map\t" + AbsoluteOf(maps.TopographyMap->FileName));
  if (friction) lines.push_back("friction map\t" + AbsoluteOf(friction->FileName));
  return lines;
}

tKeptReport ReadKeptReport(const std::string& reportPath, const std::string& header) {
  const std::string text = ReadWholeFile(reportPath);
  const std::string first = header + "\r\n";
  if (text.size() < first.size() && first.compare(0, text.size(), text) == 0) return {};
  if (text.compare(0, first.size(), first) != 0)
    throw EInOutError("The report " + reportPath +
                      " has another header than this run's (other maps or options); nothing was "
                      "changed.");
  tKeptReport kept;
  kept.Bytes = first.size();
  std::size_t start = first.size(), last = start;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    ++kept.Rows;
    kept.RowDigests.push_back(DigestValue(std::string_view(text.data() + start, end - start)));
    last = start;
    kept.Bytes = end + 2;
  }
  if (kept.Rows > 0) kept.LastRow = text.substr(last, kept.Bytes - 2 - last);
  return kept;
}

} // namespace stravex
