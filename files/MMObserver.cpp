#include "files/MMObserver.h"

#include <algorithm>

namespace zelvox {

TMMObserver::~TMMObserver() {
    if (Observable_) Observable_->RemoveObserver(this);
}

void TMMObserver::Changed(intptr_t value) {
    if (!Locked() && OnChange) OnChange(this, value);
}

TMMObservable::~TMMObservable() {
    for (TMMObserver* o : Observers_)
        o->Observable_ = nullptr;
    Observers_.clear();
}

void TMMObservable::AddObserver(TMMObserver* o) {
    if (!o || o->Observable_ == this) return;
    if (o->Observable_) o->Observable_->RemoveObserver(o);
    Observers_.push_back(o);
    o->Observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* o) {
    auto it = std::find(Observers_.begin(), Observers_.end(), o);
    if (it == Observers_.end()) return;
    Observers_.erase(it);
    o->Observable_ = nullptr;
}

void TMMObservable::NotifyObservers(intptr_t value) {
    if (Locked()) return;
    // A handler may detach observers while we walk: walk a snapshot and skip the ones that
    // left meanwhile.
    const std::vector<TMMObserver*> snapshot = Observers_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(Observers_.begin(), Observers_.end(), *it) != Observers_.end())
            (*it)->Changed(value);
    }
}

} // namespace zelvox
