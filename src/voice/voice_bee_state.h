#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace zapum {

// The conversation state the bee's voice card shows.
class VoiceBeeState {
    Q_GADGET
    Q_PROPERTY(Kind kind READ kind CONSTANT)
    Q_PROPERTY(QString message READ message CONSTANT)
public:
    enum class Kind { Idle, Listening, Thinking, Speaking, Error };
    Q_ENUM(Kind)

    VoiceBeeState() = default;
    static VoiceBeeState idle() { return VoiceBeeState(Kind::Idle); }
    static VoiceBeeState listening() { return VoiceBeeState(Kind::Listening); }
    static VoiceBeeState thinking() { return VoiceBeeState(Kind::Thinking); }
    static VoiceBeeState speaking() { return VoiceBeeState(Kind::Speaking); }
    static VoiceBeeState error(QString message) { return VoiceBeeState(Kind::Error, std::move(message)); }

    Kind kind() const { return m_kind; }
    // The user-facing sentence of an error; empty for every other state.
    QString message() const { return m_message; }
    bool isError() const { return m_kind == Kind::Error; }

    // Two errors differ when their messages do, so observers see a new error replace an old one.
    bool operator==(const VoiceBeeState &) const = default;

private:
    explicit VoiceBeeState(Kind kind, QString message = {}) : m_kind(kind), m_message(std::move(message)) {}

    Kind m_kind = Kind::Idle;
    QString m_message;
};

}  // namespace zapum

Q_DECLARE_METATYPE(zapum::VoiceBeeState)
