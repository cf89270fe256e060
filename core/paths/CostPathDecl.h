#pragma once
// Names and constants shared by the least-cost search, its statistics, the
// corridor map and the settings window.
#include <array>
#include <cstdint>
#include <string>

namespace stravex {

// Index into MinimiseCriteria; the settings keep it as a plain integer 0..2.
using tMinimiseCriterion = int32_t;
constexpr tMinimiseCriterion mcFrictionSum = 0;
constexpr tMinimiseCriterion mcFrictionMean = 1;
constexpr tMinimiseCriterion mcFrictionSD = 2;

inline const std::array<std::string, 3> MinimiseCriteria = {"Friction sum", "Friction mean",
                                                            "Friction SD"};

// Candidates per search; every caller passes this.
constexpr int32_t LeastCostCandidates = 500;

} // namespace stravex
