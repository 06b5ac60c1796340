#include "synth/EditHistory.h"

#include <cstring>

namespace zelvox {

namespace {
// Equal bytes between two changed ones that are still taken into one run: a run's own cost
// (offset and length, 8 bytes) is more than twice that many bytes.
constexpr size_t kJoinGap = 3;
} // namespace

namespace {
// What a heap block of n bytes costs: the allocator keeps a size word beside each block and
// hands out 16-byte multiples of at least 32. Counting only the bytes asked for left the
// history's true size about a seventh above its budget.
size_t HeapCost(size_t n) {
    if (n == 0) return 0;
    const size_t chunk = (n + sizeof(size_t) + 15) & ~size_t{15};
    return chunk < 32 ? 32 : chunk;
}
} // namespace

size_t EditHistory::Step::Memory() const {
    // A short label lives inside the string itself.
    const size_t label = Label.capacity() > std::string().capacity() ? HeapCost(Label.capacity() + 1) : 0;
    return sizeof(Step) + label + HeapCost(Runs.capacity() * sizeof(uint32_t)) +
           HeapCost(Old.capacity()) + HeapCost(New.capacity());
}

EditHistory::Step EditHistory::Diff(const std::string& label, const Bytes& before,
                                    const Bytes& after) {
    Step s;
    s.Label = label;
    if (before.size() != after.size()) {
        s.Whole = true;
        s.Old = before;
        s.New = after;
        return s;
    }
    const size_t n = before.size();
    size_t i = 0;
    while (i < n) {
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        const size_t start = i;
        size_t end = i + 1; // one past the last changed byte of the run
        for (size_t j = end; j < n && j <= end + kJoinGap; ++j)
            if (before[j] != after[j]) end = j + 1;
        s.Runs.push_back(uint32_t(start));
        s.Runs.push_back(uint32_t(end - start));
        s.Old.insert(s.Old.end(), before.begin() + ptrdiff_t(start),
                     before.begin() + ptrdiff_t(end));
        s.New.insert(s.New.end(), after.begin() + ptrdiff_t(start), after.begin() + ptrdiff_t(end));
        i = end;
    }
    s.Runs.shrink_to_fit();
    s.Old.shrink_to_fit();
    s.New.shrink_to_fit();
    return s;
}

void EditHistory::Apply(const Step& s, const Bytes& from, Bytes& state) {
    if (s.Whole) {
        state = from;
        return;
    }
    size_t at = 0;
    for (size_t r = 0; r + 1 < s.Runs.size(); r += 2) {
        const size_t offset = s.Runs[r], length = s.Runs[r + 1];
        if (offset + length <= state.size())
            std::memcpy(state.data() + offset, from.data() + at, length);
        at += length;
    }
}

bool EditHistory::Record(const std::string& label, const Bytes& before, const Bytes& after,
                         uint64_t key) {
    const Clock::time_point now = Now();
    if (key != 0 && Merging_ && key == MergeKey_ && now - MergeTime_ <= kCoalesceGap &&
        !Undo_.empty()) {
        // The same control again: the step now reaches from before its first change to here.
        Step merged = Diff(Undo_.back().Label, MergeBefore_, after);
        Memory_ -= Undo_.back().Memory();
        Undo_.pop_back();
        MergeTime_ = now;
        if (merged.Runs.empty() && !merged.Whole) {
            Merging_ = false; // turned back to where it started: nothing left to undo
            return true;
        }
        Memory_ += merged.Memory();
        Undo_.push_back(std::move(merged));
        return true;
    }
    Step s = Diff(label, before, after);
    if (s.Runs.empty() && !s.Whole) return false;
    for (const Step& r : Redo_)
        Memory_ -= r.Memory();
    Redo_.clear();
    Memory_ += s.Memory();
    Undo_.push_back(std::move(s));
    Merging_ = key != 0;
    if (Merging_) {
        MergeKey_ = key;
        MergeTime_ = now;
        MergeBefore_ = before;
    }
    Trim();
    return true;
}

bool EditHistory::Undo(Bytes& state) {
    if (Undo_.empty()) return false;
    Merging_ = false;
    Apply(Undo_.back(), Undo_.back().Old, state);
    Redo_.push_back(std::move(Undo_.back()));
    Undo_.pop_back();
    return true;
}

bool EditHistory::Redo(Bytes& state) {
    if (Redo_.empty()) return false;
    Merging_ = false;
    Apply(Redo_.back(), Redo_.back().New, state);
    Undo_.push_back(std::move(Redo_.back()));
    Redo_.pop_back();
    return true;
}

void EditHistory::Clear() {
    Undo_.clear();
    Redo_.clear();
    Memory_ = 0;
    Merging_ = false;
    MergeBefore_.clear();
}

void EditHistory::Trim() {
    while (Undo_.size() > kMinSteps && Memory_ > kMemoryBudget) {
        Memory_ -= Undo_.front().Memory();
        Undo_.pop_front();
    }
}

} // namespace zelvox
