#include "analysis/BatchRun.h"

#include "analysis/Analyses.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/BatchLine.h"
#include "analysis/MapSet.h"
#include "analysis/RunPreparation.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

#include <filesystem>
#include <optional>

namespace stravex {

namespace fs = std::filesystem;

void tLogRecorder::Log(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    for (std::string& l : SplitLines(line)) fLines.push_back(std::move(l));
  }
  fInner.Log(line);
}

std::vector<std::string> tLogRecorder::Lines() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fLines;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      current += c;
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty() || lines.empty()) lines.push_back(std::move(current));
  return lines;
}

void SaveLogLines(const std::string& fileName, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteFileAtomically(fileName, text);
}

std::optional<tBatchJob> PrepareBatch(const std::vector<std::string>& args) {
  const std::optional<tBatchHead> head = ParseBatchHead(args);
  if (!head) return std::nullopt;

  // The map-list file is named from the caller's folder; taken literally from
  // the folder it selects, a relative name with a folder part would point
  // nowhere ("data/maps.txt" read as "data/data/maps.txt").
  std::error_code ec;
  const fs::path mapList = fs::absolute(head->MapListFile, ec);
  if (ec || head->MapListFile.empty()) throw EInOutError(head->MapListFile + " not found.");
  if (!fs::is_directory(mapList.parent_path(), ec))
    throw EInOutError(mapList.string() + " not found.");

  tBatchJob job;
  job.Head = *head;
  job.WorkDir = mapList.parent_path().string();
  job.MapListFile = mapList.string();
  const fs::path dir(job.WorkDir);
  auto inDir = [&dir](const std::string& name) {
    return name.empty() || fs::path(name).is_absolute() ? name : (dir / name).string();
  };
  for (const std::string& name : tMapSet::ReadMapList(mapList.string()))
    job.MapFiles.push_back(inDir(name));
  job.LogFile = inDir(head->LogFile);
  return job;
}

void ApplyBatch(const tBatchJob& job, const std::vector<std::string>& args,
                TAnalysisSettings& settings) {
  TAnalysisSettings s = settings;
  ApplyBatchHead(job.Head, s);
  ApplyBatchSettings(args, s);
  settings = s;
}

tBatchOutcome RunBatch(const std::vector<std::string>& args, tReporter& reporter, int threads,
                       std::vector<tWrittenFile>* files) {
  const std::optional<tBatchJob> job = PrepareBatch(args);
  if (!job) return tBatchOutcome::NothingToDo;

  tLogRecorder log(reporter);
  tRunInputs inputs;
  inputs.BinaryMaps = job->MapFiles;
  inputs.SkipRefusedMaps = true;
  tPreparedRun run;
  (void)PrepareRun(inputs, log, run); // refused maps are skipped, never the run
  TAnalysisSettings settings;
  ApplyBatch(*job, args, settings);

  tRunState state;
  tAnalysisContext ctx{settings, run.Maps, log, state, job->WorkDir, threads};
  ctx.LogFile = job->LogFile;
  ctx.MapListFile = job->MapListFile;
  // The result holds the log's lock until the log is saved.
  const tRunResult result = RunAnalysis(tAnalysisKind::PopulationMatrix, ctx, run.Sequence);
  result.Rethrow();
  SaveLogLines(job->LogFile, log.Lines());
  if (files) *files = result.FilesWritten;
  return result.Outcome == tRunOutcome::Cancelled ? tBatchOutcome::Cancelled
                                                  : tBatchOutcome::Completed;
}

} // namespace stravex
