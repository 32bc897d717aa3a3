#include "companion/onboarding_manager.h"

#include "foundation/settings_storage.h"
#include "platform/platform_words.h"
#include "ui/qml_window.h"

#include <QVariantMap>

namespace zapum {

const QList<OnboardingStep> &onboardingSteps()
{
    static const QList<OnboardingStep> steps{
        {QStringLiteral("\U0001F41D"), QStringLiteral("Your guide lives above %1").arg(platformWords().taskbar),
         QStringLiteral("ZaPum patrols the bottom of your screen and is always one click away. It works offline from "
                        "the moment you install it.")},
        {QStringLiteral("signed-in"), QStringLiteral("Sign in to link your account"),
         QStringLiteral("Create a ZaPum account (or use an existing one) to sync guidance from your team and unlock "
                        "remote help from the products you use.")},
        {QStringLiteral("sync"), QStringLiteral("SaaS products you use can send help here"),
         QStringLiteral("When a product's logged-in user matches your ZaPum account, it can push guidance steps, tips, "
                        "and next actions straight to this companion.")},
    };
    return steps;
}

bool isEmojiIcon(const QString &icon)
{
    if (icon.isEmpty())
        return false;
    const char32_t first = icon.toUcs4().first();
    // Icon names are plain ASCII; emoji live far above it.
    return first >= 0x2300;
}

bool onboardingShowsBack(int page)
{
    return page >= 1;
}

bool onboardingIsLastPage(int page, int pageCount)
{
    return page >= pageCount - 1;
}

int onboardingPageAfterKey(int page, int pageCount, bool isEscape)
{
    if (isEscape)
        return onboardingShowsBack(page) ? page - 1 : page;
    return onboardingIsLastPage(page, pageCount) ? page : page + 1;
}

OnboardingManager::OnboardingManager(SettingsStorage &settings, QQmlEngine &engine, QObject *parent)
    : QObject(parent), m_settings(settings), m_engine(engine)
{
}

OnboardingManager::~OnboardingManager() = default;

bool OnboardingManager::seen() const
{
    return m_settings.storedBool(settings_keys::kOnboardingSeen).value_or(false);
}

QVariantList OnboardingManager::steps() const
{
    QVariantList list;
    for (const OnboardingStep &step : onboardingSteps())
        list.append(QVariantMap{{QStringLiteral("icon"), step.icon},
                                {QStringLiteral("isEmoji"), isEmojiIcon(step.icon)},
                                {QStringLiteral("title"), step.title},
                                {QStringLiteral("body"), step.body}});
    return list;
}

void OnboardingManager::show()
{
    if (!m_window) {
        QmlWindowSpec spec;
        spec.source = QUrl(QStringLiteral("qrc:/zapum/companion/OnboardingView.qml"));
        spec.title = QStringLiteral("Welcome to ZaPum");
        spec.size = QSize(520, 440);
        spec.minimumSize = spec.size;
        spec.initialProperties = {{QStringLiteral("manager"), QVariant::fromValue<QObject *>(this)}};
        if (m_startAtLogin)
            spec.initialProperties.insert(QStringLiteral("startAtLogin"), QVariant::fromValue(m_startAtLogin));
        m_window = std::make_unique<QmlWindow>(m_engine, spec);
    }
    m_window->present();
}

bool OnboardingManager::isOpen() const
{
    return m_window && m_window->isOpen();
}

void OnboardingManager::finish()
{
    m_settings.setValue(settings_keys::kOnboardingSeen, true);
    if (m_window)
        m_window->close();
    Q_EMIT finished();
}

}  // namespace zapum
