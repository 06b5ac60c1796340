#pragma once
// The undo and redo history of the edit state, kept as the bytes that changed: each step holds
// the runs of the pattern-file bytes an edit changed, with their values before and after, and
// the name of the edit ("Cut-off", "Rotate left", "Load pattern"). The history knows nothing
// of windows or of how the bytes are applied; its owner takes the state before and after
// each edit and applies what Undo and Redo hand back.
//
// One step per edit, except that consecutive changes of one control (the same coalescing
// key) merge into one step while they follow each other within kCoalesceGap: one drag, one
// wheel burst or one MIDI controller sweep is one step. Any other recorded edit, an undo or
// a redo, or a pause longer than the gap, ends the merging.
//
// Size: the newest kMinSteps steps are always kept; older ones stay while the whole history
// takes no more than kMemoryBudget bytes.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zelvox {

class EditHistory {
public:
    using Bytes = std::vector<uint8_t>;
    using Clock = std::chrono::steady_clock;

    static constexpr size_t kMinSteps = 1000;
    static constexpr size_t kMemoryBudget = size_t{32} << 20;
    static constexpr Clock::duration kCoalesceGap = std::chrono::milliseconds(1000);

    // Records an edit from the state before to the state after. Nothing is recorded when
    // they are equal (the merging then goes on as if nothing happened). Key 0 never merges.
    // Recording clears what could be redone. True when a step was added or grown.
    bool Record(const std::string& label, const Bytes& before, const Bytes& after,
                uint64_t key = 0);

    bool CanUndo() const { return !Undo_.empty(); }
    bool CanRedo() const { return !Redo_.empty(); }
    // The name of the edit Undo or Redo would take back or do again; empty when none.
    std::string UndoLabel() const { return Undo_.empty() ? std::string{} : Undo_.back().Label; }
    std::string RedoLabel() const { return Redo_.empty() ? std::string{} : Redo_.back().Label; }
    size_t UndoCount() const { return Undo_.size(); }
    size_t RedoCount() const { return Redo_.size(); }

    // Writes the bytes the newest edit changed back to their values before it (Undo) or
    // after it (Redo) into `state`, the current state, and moves the step to the other
    // list. Bytes the step did not change keep their current values. False when there is
    // nothing to undo or redo; `state` is then untouched.
    bool Undo(Bytes& state);
    bool Redo(Bytes& state);

    // Ends the merging of control changes: the next change starts a step of its own.
    void EndMerge() { Merging_ = false; }
    void Clear();

    // Heap bytes held by the steps, approximately (what the budget counts).
    size_t MemoryBytes() const { return Memory_; }

    // The clock the merging gap is measured on (tests set their own).
    std::function<Clock::time_point()> Now = [] { return Clock::now(); };

private:
    struct Step {
        std::string Label;
        bool Whole = false;         // the state's size changed: Old and New are the whole states
        std::vector<uint32_t> Runs; // offset, length pairs
        Bytes Old, New;             // the runs' bytes, in run order
        size_t Memory() const;
    };
    static Step Diff(const std::string& label, const Bytes& before, const Bytes& after);
    static void Apply(const Step& s, const Bytes& from, Bytes& state);
    void Trim();

    std::deque<Step> Undo_, Redo_;
    size_t Memory_ = 0;
    bool Merging_ = false;
    uint64_t MergeKey_ = 0;
    Clock::time_point MergeTime_{};
    Bytes MergeBefore_; // the state before the first change of the step being merged
};

} // namespace zelvox
