// The check every fuzz target with a kept reader state makes: nothing of one input may
// cross to the next, so an input read again after another one gives the same answer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Reads `input` with `state`, then the input of the call before, then `input` again;
// true when the two answers for `input` agree. `read(state, bytes)` gives the answer.
template <typename State, typename Read>
bool SameAfterAnother(State& state, std::span<const std::uint8_t> input, Read read) {
  static std::vector<std::uint8_t> previous;
  const auto first = read(state, input);
  read(state, std::span<const std::uint8_t>(previous));
  const bool same = read(state, input) == first;
  previous.assign(input.begin(), input.end());
  return same;
}
