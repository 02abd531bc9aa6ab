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

#include "fingerprint.h"

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

// How a member came to its leader: the whole pictures alike, or one's whole picture like a
// centred part (CentreFingerprints' part `part`) of the other's: of the leader's when the
// member is a crop of it, of the member's when the leader is.
struct PairMatch {
    enum Kind : uint8_t { Whole, LeaderPart, MemberPart };
    Kind kind = Whole;
    uint8_t part = 0;
    auto operator<=>(const PairMatch&) const = default;
};

// Whole hash against a centred part's: a crop's hash lands this close to its original's
// part. Kept under 4 so that the part joins need an exact class match only (no masks).
inline constexpr int CropThreshold = 3;

// As GroupFingerprints, where two pictures are also neighbours when one's whole hash is
// within `cropThreshold` of one of the other's centre hashes (nonzero ones; parts are
// never compared with parts). A member that is both takes the first of Whole, the
// leader's parts in order, then its own parts in order, which `confirm` is told and
// `how`, when given, holds per member (Whole for leaders and pictures alone). Without
// one CentreHashes per hash, only whole hashes are compared. Crowds are not joined by
// parts: where a class's bucket of whole hashes and the one of parts it meets are both
// fuller than 256 and eight times their average (near-blank pictures), it is left out.
// With `parallelConfirm`, one leader's members are confirmed on several threads (in no
// order; `confirm` must then be safe to call so), as a slow confirmation wants.
std::vector<uint32_t> GroupFingerprintsWithCrops(
    const std::vector<uint64_t>& hashes, const std::vector<CentreHashes>& centres, int threshold,
    int cropThreshold, const std::function<void(size_t step, size_t count)>& progress = {},
    const std::atomic<bool>* stop = nullptr,
    const std::function<bool(uint32_t leader, uint32_t member, PairMatch how)>& confirm = {},
    unsigned threads = 0, std::vector<PairMatch>* how = nullptr, bool parallelConfirm = false);

// For each hash, whether some other hash is within `threshold` of it and
// `confirm(it, other)`, when given, agrees (`confirm` must not depend on the order of the
// two), or, with centre hashes, one's whole hash is within `cropThreshold` of a part of
// the other's (GroupFingerprintsWithCrops). Found by the same joins, without the walk.
// When `stop` is raised the answer is incomplete.
std::vector<char> ConfirmedNeighbours(const std::vector<uint64_t>& hashes, int threshold,
                                      const std::function<bool(uint32_t, uint32_t)>& confirm = {},
                                      const std::atomic<bool>* stop = nullptr, unsigned threads = 0,
                                      const std::vector<CentreHashes>* centres = nullptr,
                                      int cropThreshold = CropThreshold);

// How the joins compare hashes: the best the processor has, or one named (for tests; the
// answer is the same with each). False, changing nothing, when the processor lacks it.
enum class IndexKernel { Best, Plain, Popcount, Avx512 };
bool UseIndexKernel(IndexKernel kernel);

} // namespace fenwa::similar
