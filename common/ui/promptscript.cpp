#include "common/ui/promptscript.h"

namespace varno::ui {

PromptScript::PromptScript()
{
    m_previous = setPromptHandler([this](const PromptRequest &request) { return respond(request); });
}

PromptScript::~PromptScript()
{
    setPromptHandler(std::move(m_previous));
}

void PromptScript::answer(QMessageBox::StandardButton button, const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(PromptAnswer{button, text});
}

QList<PromptRequest> PromptScript::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

QList<PromptRequest> PromptScript::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<PromptRequest> taken;
    taken.swap(m_requests);
    return taken;
}

int PromptScript::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_requests.size());
}

int PromptScript::unscripted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unscripted;
}

PromptAnswer PromptScript::respond(const PromptRequest &request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.append(request);
    if (!m_answers.empty()) {
        PromptAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    ++m_unscripted;
    switch (request.kind) {
    case PromptKind::Information:
        return {QMessageBox::Ok, QString()};
    case PromptKind::Question:
        return {QMessageBox::No, QString()};
    case PromptKind::Password:
    case PromptKind::Text:
        break;
    }
    return {QMessageBox::Cancel, QString()};
}

} // namespace varno::ui
