#pragma once
// One entry per reader of outside input, shared by the libFuzzer harnesses
// and the regression test that replays every input that ever failed.
//
// An entry feeds the bytes to its reader and checks what the reader
// promises. The reader's own typed errors (and the parser's) are expected and
// caught; any other exception escapes, and a broken promise raises
// EFuzzFinding, so both end a fuzzing run as a crash.
#include <stdexcept>
#include <string_view>
#include <vector>

namespace stravex::fuzz {

class EFuzzFinding : public std::logic_error {
public:
  using std::logic_error::logic_error;
};

struct tFuzzTarget {
  const char* Name; // the harness and the folder of its corpus and regressions
  void (*Run)(std::string_view input);
};

// Documentation text, and after a first NUL byte the image: ReadDoc, then
// DescribeMap of the same map.
void RunReadDoc(std::string_view input);
// A population data file, echoes on; every other input also through a point filter.
void RunPopulation(std::string_view input);
void RunSequence(std::string_view input);
void RunMapList(std::string_view input);
// Lines are the positions of a batch line, the first one position 0.
void RunBatchLine(std::string_view input);
// Lines are the arguments of stravex-cli, the first one the program; parsed
// with every command's run replaced.
void RunCliOptions(std::string_view input);

const std::vector<tFuzzTarget>& FuzzTargets();

} // namespace stravex::fuzz
