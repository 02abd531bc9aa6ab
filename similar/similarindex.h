#pragma once
// Grouping fingerprints without comparing every pair. The 64 hash bits fall into four
// classes of 16 by the parity of their frequencies (u, v); a turn or mirror moves each
// class whole onto one class and flips it whole or not at all. Two hashes within distance
// d agree within d / 4 bits on at least one class (pigeonhole), so joining the hashes
// sorted by each class's 16 bits against their own (and their transposes') values that
// close finds every pair within d, which is then checked whole. The joins read memory in
// order and split across threads; a sequential leader walk over the pairs found then
// makes the groups.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace fenwa::similar {

// For each hash, the position of its group's leader (itself for a leader). Hashes are
// taken in order: each one not yet in a group leads a new group, which every later hash
// not yet in a group joins when its distance (FingerprintDistance) to the leader is at
// most `threshold` and `confirm(leader, member)`, when given, agrees (asked in increasing
// member order). Deterministic, and a hash joins at most one group; no chains.
// `progress(step, count)` is called now and then on the calling thread; when `stop` is
// raised the answer is incomplete. `threads` = 0 uses the machine's processors for large
// inputs; the answer does not depend on it.
std::vector<uint32_t>
GroupFingerprints(const std::vector<uint64_t>& hashes, int threshold,
                  const std::function<void(size_t step, size_t count)>& progress = {},
                  const std::atomic<bool>* stop = nullptr,
                  const std::function<bool(uint32_t leader, uint32_t member)>& confirm = {},
                  unsigned threads = 0);

// For each hash, whether some other hash is within `threshold` of it and
// `confirm(it, other)`, when given, agrees (`confirm` must not depend on the order of the
// two). Found by the same joins, without the walk. When `stop` is raised the answer is
// incomplete.
std::vector<char> ConfirmedNeighbours(const std::vector<uint64_t>& hashes, int threshold,
                                      const std::function<bool(uint32_t, uint32_t)>& confirm = {},
                                      const std::atomic<bool>* stop = nullptr,
                                      unsigned threads = 0);

// How the joins compare hashes: the best the processor has, or one named (for tests; the
// answer is the same with each). False, changing nothing, when the processor lacks it.
enum class IndexKernel { Best, Plain, Popcount, Avx512 };
bool UseIndexKernel(IndexKernel kernel);

} // namespace fenwa::similar
