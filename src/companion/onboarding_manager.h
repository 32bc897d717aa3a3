#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

#include <memory>

class QQmlEngine;

namespace zapum {

class QmlWindow;
class SettingsStorage;

namespace settings_keys {
inline const QString kOnboardingSeen = QStringLiteral("ZaPumOnboardingSeen");
}  // namespace settings_keys

struct OnboardingStep {
    QString icon;  // one emoji, or the name of one of our icons
    QString title;
    QString body;
};

const QList<OnboardingStep> &onboardingSteps();
// Whether an icon text is an emoji to draw as text rather than the name of an icon.
bool isEmojiIcon(const QString &icon);

// The walkthrough's page rules: Back from the second page on, Continue until the last page, and
// Get started on the last one.
bool onboardingShowsBack(int page);
bool onboardingIsLastPage(int page, int pageCount);
// The page after a key press: Escape goes back (nowhere on the first page), Return goes forward
// (and, on the last page, stays: finishing is the caller's part).
int onboardingPageAfterKey(int page, int pageCount, bool isEscape);

// The three-page welcome walkthrough, in a window of its own that is built once and kept. Only
// "Get started" marks it seen; closing the window does not.
class OnboardingManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList steps READ steps CONSTANT)
public:
    OnboardingManager(SettingsStorage &settings, QQmlEngine &engine, QObject *parent = nullptr);
    ~OnboardingManager() override;

    bool seen() const;
    void show();
    bool isOpen() const;
    QmlWindow *window() const { return m_window.get(); }

    QVariantList steps() const;
    Q_INVOKABLE bool showsBack(int page) const { return onboardingShowsBack(page); }
    Q_INVOKABLE bool isLastPage(int page) const { return onboardingIsLastPage(page, int(onboardingSteps().size())); }
    Q_INVOKABLE int pageAfterKey(int page, bool isEscape) const
    {
        return onboardingPageAfterKey(page, int(onboardingSteps().size()), isEscape);
    }
    // "Get started".
    Q_INVOKABLE void finish();
    // The last page offers "Start ZaPum when I log in", bound to this store (a StartAtLoginStore).
    void offerStartAtLogin(QObject *store) { m_startAtLogin = store; }

Q_SIGNALS:
    void finished();

private:
    SettingsStorage &m_settings;
    QQmlEngine &m_engine;
    std::unique_ptr<QmlWindow> m_window;
    QObject *m_startAtLogin = nullptr;
};

}  // namespace zapum
