#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>

#include <functional>
#include <optional>

namespace zapum {

// One line of the guidance checklist as the popover shows it.
struct PopoverStep {
    QString id;
    QString title;
    QString detail;  // empty: no detail line
    bool isDone = false;
    bool operator==(const PopoverStep &) const = default;
};

// The guidance checklist as the popover shows it.
struct PopoverGuidance {
    QString title;
    QString subtitle;
    QList<PopoverStep> steps;
    QString primaryActionLabel;  // empty: none
    QString primaryActionUrl;    // as sent; primaryActionTarget() decides whether it opens
    bool operator==(const PopoverGuidance &) const = default;
};

// The last answer to a typed question, or the sentence saying why there is none.
struct PopoverAnswer {
    bool isError = false;
    QString text;
    bool operator==(const PopoverAnswer &) const = default;
};

struct PopoverHeader {
    bool showsLinkedIcon = false;
    QString text;
    QString accessibleLabel;
};
// "Signed in as …" only when linked with an e-mail to show; otherwise the local-assistant line.
PopoverHeader popoverHeader(bool isCloudLinked, const QString &linkedEmail);

// The question as it is sent, or nothing when the send button is off: a blank draft, or an
// answer still pending.
std::optional<QString> questionToSend(const QString &draft, bool askIsWorking);

// The primary action's address, only when there is a label and the address is a web page: the
// checklist can be pushed from outside, and a click must not open files or hand a made-up scheme
// to whatever program claims it.
QUrl primaryActionTarget(const QString &label, const QString &url);

// What the guidance popover shows and what it may ask for. It reads no service itself: the
// composition root feeds it from the guidance service, the session and the ask service, and hands
// it the few actions it needs.
class GuidancePopoverModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY guidanceChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY guidanceChanged)
    Q_PROPERTY(QVariantList steps READ steps NOTIFY guidanceChanged)
    Q_PROPERTY(QString primaryActionLabel READ primaryActionLabel NOTIFY guidanceChanged)
    Q_PROPERTY(bool hasPrimaryAction READ hasPrimaryAction NOTIFY guidanceChanged)
    Q_PROPERTY(bool showsLinkedIcon READ showsLinkedIcon NOTIFY accountChanged)
    Q_PROPERTY(QString headerText READ headerText NOTIFY accountChanged)
    Q_PROPERTY(QString headerAccessibleLabel READ headerAccessibleLabel NOTIFY accountChanged)
    Q_PROPERTY(bool askWorking READ askWorking NOTIFY askChanged)
    Q_PROPERTY(bool hasResponse READ hasResponse NOTIFY askChanged)
    Q_PROPERTY(bool responseIsError READ responseIsError NOTIFY askChanged)
    Q_PROPERTY(QString responseText READ responseText NOTIFY askChanged)

public:
    struct Actions {
        std::function<void(const QString &question)> ask;  // starts a question; not awaited
        std::function<void()> clearResponse;
        std::function<void(const QUrl &)> openUrl;
        std::function<void(const QString &)> copyText;
    };

    explicit GuidancePopoverModel(Actions actions, QObject *parent = nullptr);

    void setGuidance(const PopoverGuidance &guidance);
    void setAccount(bool isCloudLinked, const QString &linkedEmail);
    void setAskState(bool working, const std::optional<PopoverAnswer> &response);

    QString title() const { return m_guidance.title; }
    QString subtitle() const { return m_guidance.subtitle; }
    QVariantList steps() const;
    QString primaryActionLabel() const { return m_guidance.primaryActionLabel; }
    bool hasPrimaryAction() const;
    bool showsLinkedIcon() const { return m_header.showsLinkedIcon; }
    QString headerText() const { return m_header.text; }
    QString headerAccessibleLabel() const { return m_header.accessibleLabel; }
    bool askWorking() const { return m_askWorking; }
    bool hasResponse() const { return m_response.has_value(); }
    bool responseIsError() const { return m_response && m_response->isError; }
    QString responseText() const { return m_response ? m_response->text : QString(); }

    Q_INVOKABLE bool canSend(const QString &draft) const { return questionToSend(draft, m_askWorking).has_value(); }
    // Sends the draft when it may be sent; true tells the view to clear its field.
    Q_INVOKABLE bool submit(const QString &draft);
    // Copies an answer; an error is not something to paste anywhere.
    Q_INVOKABLE void copyAnswer();
    Q_INVOKABLE void askAgain();
    Q_INVOKABLE void openPrimaryAction();

Q_SIGNALS:
    void guidanceChanged();
    void accountChanged();
    void askChanged();

private:
    Actions m_actions;
    PopoverGuidance m_guidance;
    PopoverHeader m_header;
    bool m_askWorking = false;
    std::optional<PopoverAnswer> m_response;
};

}  // namespace zapum
