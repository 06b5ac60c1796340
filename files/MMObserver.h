#pragma once
// A small observer list: an observable passes a value to each attached observer, from the
// last attached to the first. Used by the WAV component to follow its wave's file changes.

#include <cstdint>
#include <functional>
#include <vector>

namespace zelvox {

class TMMObservable;

class TMMObserver {
public:
    TMMObserver() = default;
    ~TMMObserver(); // detaches from its observable
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;

    // Called with (observer, value) on every notification unless the observer is locked.
    std::function<void(TMMObserver* observer, intptr_t value)> OnChange;

    TMMObservable* Observable() const { return Observable_; }
    void Lock() { ++Locks_; }
    void Unlock() {
        if (Locks_ > 0) --Locks_;
    }
    bool Locked() const { return Locks_ > 0; }

private:
    friend class TMMObservable;
    void Changed(intptr_t value);
    TMMObservable* Observable_ = nullptr;
    int Locks_ = 0;
};

class TMMObservable {
public:
    TMMObservable() = default;
    ~TMMObservable(); // detaches every observer
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;

    // Attaching first detaches the observer from its previous observable.
    void AddObserver(TMMObserver* o);
    void RemoveObserver(TMMObserver* o);
    // Passes value to every observer, last attached first; nothing while locked.
    void NotifyObservers(intptr_t value);

    int Count() const { return int(Observers_.size()); }
    void Lock() { ++Locks_; }
    void Unlock() {
        if (Locks_ > 0) --Locks_;
    }
    bool Locked() const { return Locks_ > 0; }

private:
    std::vector<TMMObserver*> Observers_;
    int Locks_ = 0;
};

} // namespace zelvox
