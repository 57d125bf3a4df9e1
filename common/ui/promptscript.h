#pragma once

#include "common/ui/infobox.h"

#include <QList>

#include <deque>
#include <mutex>

// Answers the prompts of the seam from a script and records every request,
// for tests and headless runs: while an instance lives, no dialog is shown.
// Instances do not nest; the destructor restores the previous handler.
namespace varno::ui {

class PromptScript
{
public:
    PromptScript();
    ~PromptScript();

    PromptScript(const PromptScript &) = delete;
    PromptScript &operator=(const PromptScript &) = delete;

    // Queues the answer to the next request. When the queue is empty a
    // request gets the refusing answer: OK for information, No for a
    // question, Cancel for a password prompt.
    void answer(QMessageBox::StandardButton button, const QString &text = QString());

    // Every request so far, oldest first; take() also forgets them.
    QList<PromptRequest> requests() const;
    QList<PromptRequest> take();
    int count() const;
    // Requests answered from the empty queue (not scripted).
    int unscripted() const;

private:
    PromptAnswer respond(const PromptRequest &request);

    mutable std::mutex m_mutex;
    std::deque<PromptAnswer> m_answers;
    QList<PromptRequest> m_requests;
    int m_unscripted = 0;
    PromptHandler m_previous;
};

} // namespace varno::ui
