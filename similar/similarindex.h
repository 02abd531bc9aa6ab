#pragma once
// Grouping fingerprints without comparing every pair. The hashes are indexed by each of
// their four 16-bit quarters; two hashes within distance d agree within d / 4 bits on at
// least one quarter (pigeonhole), so a lookup of every quarter value that close to one of
// the leader's eight orientations finds every candidate, which is then checked whole.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace fenwa::similar {

// For each hash, the position of its group's leader (itself for a leader). Hashes are
// taken in order: each one not yet in a group leads a new group, which every later hash
// not yet in a group joins when its distance (FingerprintDistance) to the leader is at
// most `threshold`. Deterministic, and a hash joins at most one group; no chains.
// `progress(step, count)` is called now and then; when `stop` is raised the answer is
// incomplete.
std::vector<uint32_t>
GroupFingerprints(const std::vector<uint64_t>& hashes, int threshold,
                  const std::function<void(size_t step, size_t count)>& progress = {},
                  const std::atomic<bool>* stop = nullptr);

} // namespace fenwa::similar
