// GraphSubject / GraphObserver: the engine's small notification pair. A graph
// runner is a subject; the converter embeds one observer that turns the
// runner's notification codes into the control's events.
#pragma once

#include <windows.h>

#include <vector>

namespace corvane {

class GraphObserver;

// Notification codes a subject sends to its observers.
enum GraphNotification : LONG {
    NotifySubjectGone = 0,
    NotifyGraphAborted = 88890,
    NotifyGraphComplete = 88892,
};

class GraphSubject {
public:
    GraphSubject() = default;
    virtual ~GraphSubject();
    GraphSubject(const GraphSubject&) = delete;
    GraphSubject& operator=(const GraphSubject&) = delete;

    // Ignored for null or an observer already listed.
    void AttachObserver(GraphObserver* observer);
    // Ignored for null; removes the first occurrence.
    void DetachObserver(GraphObserver* observer);
    // Calls OnNotify on every observer, from the last listed to the first.
    void Notify(LONG code, GraphSubject* subject, LONG extra);

    std::size_t ObserverCount() const { return observers_.size(); }

private:
    std::vector<GraphObserver*> observers_;
    // Set while Notify runs: cleared by the destructor, so that a Notify
    // whose observer destroyed this subject stops at once.
    bool* notifyAlive_ = nullptr;
};

class GraphObserver {
public:
    GraphObserver() = default;
    virtual ~GraphObserver();
    GraphObserver(const GraphObserver&) = delete;
    GraphObserver& operator=(const GraphObserver&) = delete;

    // Default handling: NotifySubjectGone drops the subject; other codes are ignored.
    virtual void OnNotify(LONG code, GraphSubject* subject, LONG extra);

    void AddSubject(GraphSubject* subject);
    void RemoveSubject(GraphSubject* subject);
    const std::vector<GraphSubject*>& Subjects() const { return subjects_; }

private:
    std::vector<GraphSubject*> subjects_;
};

}  // namespace corvane
