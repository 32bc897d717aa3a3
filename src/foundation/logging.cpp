#include "foundation/logging.h"

Q_LOGGING_CATEGORY(lcApp, "zapum.app")
Q_LOGGING_CATEGORY(lcVoice, "zapum.voice")
Q_LOGGING_CATEGORY(lcDesktop, "zapum.desktop")
Q_LOGGING_CATEGORY(lcBackend, "zapum.backend")
Q_LOGGING_CATEGORY(lcCompanion, "zapum.companion")
Q_LOGGING_CATEGORY(lcUi, "zapum.ui")
Q_LOGGING_CATEGORY(lcPlatform, "zapum.platform")
Q_LOGGING_CATEGORY(lcFoundation, "zapum.foundation")
