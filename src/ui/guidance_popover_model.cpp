#include "ui/guidance_popover_model.h"

#include <QVariantMap>

namespace zapum {

PopoverHeader popoverHeader(bool isCloudLinked, const QString &linkedEmail)
{
    if (isCloudLinked && !linkedEmail.isEmpty()) {
        const QString text = QStringLiteral("Signed in as ") + linkedEmail;
        return {true, text, text};
    }
    return {false, QStringLiteral("Local assistant"),
            QStringLiteral("Running as local assistant. Sign in to sync with your products.")};
}

std::optional<QString> questionToSend(const QString &draft, bool askIsWorking)
{
    const QString question = draft.trimmed();
    if (question.isEmpty() || askIsWorking)
        return std::nullopt;
    return question;
}

QUrl primaryActionTarget(const QString &label, const QString &url)
{
    if (label.isEmpty())
        return {};
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        return {};
    return parsed;
}

GuidancePopoverModel::GuidancePopoverModel(Actions actions, QObject *parent)
    : QObject(parent), m_actions(std::move(actions)), m_header(popoverHeader(false, {}))
{
}

void GuidancePopoverModel::setGuidance(const PopoverGuidance &guidance)
{
    if (guidance == m_guidance)
        return;
    m_guidance = guidance;
    Q_EMIT guidanceChanged();
}

void GuidancePopoverModel::setAccount(bool isCloudLinked, const QString &linkedEmail)
{
    m_header = popoverHeader(isCloudLinked, linkedEmail);
    Q_EMIT accountChanged();
}

void GuidancePopoverModel::setAskState(bool working, const std::optional<PopoverAnswer> &response)
{
    if (working == m_askWorking && response == m_response)
        return;
    m_askWorking = working;
    m_response = response;
    Q_EMIT askChanged();
}

QVariantList GuidancePopoverModel::steps() const
{
    QVariantList list;
    for (const PopoverStep &step : m_guidance.steps)
        list.append(QVariantMap{{QStringLiteral("id"), step.id},
                                {QStringLiteral("title"), step.title},
                                {QStringLiteral("detail"), step.detail},
                                {QStringLiteral("isDone"), step.isDone}});
    return list;
}

bool GuidancePopoverModel::hasPrimaryAction() const
{
    return !primaryActionTarget(m_guidance.primaryActionLabel, m_guidance.primaryActionUrl).isEmpty();
}

bool GuidancePopoverModel::submit(const QString &draft)
{
    const auto question = questionToSend(draft, m_askWorking);
    if (!question)
        return false;
    if (m_actions.ask)
        m_actions.ask(*question);
    return true;
}

void GuidancePopoverModel::copyAnswer()
{
    if (m_response && !m_response->isError && m_actions.copyText)
        m_actions.copyText(m_response->text);
}

void GuidancePopoverModel::askAgain()
{
    if (m_actions.clearResponse)
        m_actions.clearResponse();
}

void GuidancePopoverModel::openPrimaryAction()
{
    const QUrl target = primaryActionTarget(m_guidance.primaryActionLabel, m_guidance.primaryActionUrl);
    if (!target.isEmpty() && m_actions.openUrl)
        m_actions.openUrl(target);
}

}  // namespace zapum
