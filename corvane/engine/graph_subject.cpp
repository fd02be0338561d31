#include "graph_subject.h"

#include <algorithm>

namespace corvane {

namespace {

template <class T>
void EraseFirst(std::vector<T*>& list, T* item)
{
    auto it = std::find(list.begin(), list.end(), item);
    if (it != list.end()) list.erase(it);
}

}  // namespace

GraphSubject::~GraphSubject()
{
    if (notifyAlive_) *notifyAlive_ = false;
    notifyAlive_ = nullptr;
    Notify(NotifySubjectGone, this, 0);
    observers_.clear();
}

void GraphSubject::AttachObserver(GraphObserver* observer)
{
    if (!observer) return;
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) return;
    observers_.push_back(observer);
    observer->AddSubject(this);
}

void GraphSubject::DetachObserver(GraphObserver* observer)
{
    if (!observer) return;
    observer->RemoveSubject(this);
    EraseFirst(observers_, observer);
}

void GraphSubject::Notify(LONG code, GraphSubject* subject, LONG extra)
{
    // An observer may detach itself, or destroy this subject, while it is
    // being notified: walk by index from the end, re-check the bound on every
    // step, and stop as soon as the subject is gone.
    bool alive = true;
    bool* outer = notifyAlive_;
    notifyAlive_ = &alive;
    for (std::size_t i = observers_.size(); i > 0; --i) {
        if (i > observers_.size()) continue;
        observers_[i - 1]->OnNotify(code, subject, extra);
        if (!alive) {
            if (outer) *outer = false;
            return;
        }
    }
    notifyAlive_ = outer;
}

GraphObserver::~GraphObserver()
{
    while (!subjects_.empty()) {
        GraphSubject* subject = subjects_.back();
        std::size_t before = subjects_.size();
        subject->DetachObserver(this);
        // DetachObserver calls RemoveSubject; make sure the loop always ends.
        if (subjects_.size() == before) subjects_.pop_back();
    }
}

void GraphObserver::OnNotify(LONG code, GraphSubject* subject, LONG /*extra*/)
{
    if (code == NotifySubjectGone) RemoveSubject(subject);
}

void GraphObserver::AddSubject(GraphSubject* subject)
{
    subjects_.push_back(subject);
}

void GraphObserver::RemoveSubject(GraphSubject* subject)
{
    EraseFirst(subjects_, subject);
}

}  // namespace corvane
