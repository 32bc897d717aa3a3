#pragma once

namespace zapum {

class AskService;
class GlobalHotkeyService;
class VoiceSession;

// Lets the talk key and the popover's typed questions reach the voice session: holding the key
// begins a turn, releasing it ends the turn, and typed questions go through the agent loop. The
// hotkey still has to be registered by whoever decides that voice is available.
void wireVoiceSession(VoiceSession &session, GlobalHotkeyService &hotkey, AskService &ask);

}  // namespace zapum
