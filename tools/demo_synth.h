#pragma once
// The demo root's sound: a SoundFont in "<root>/synth" and the built-in synthesizer chosen, so
// that the first song sounds on a machine without MIDI devices. Used by tools/make-demo-root.
#include <filesystem>
#include <string>

// Links the system's General MIDI SoundFont into "<root>/synth" when that folder has none, and
// writes the settings file that chooses the built-in synthesizer with it when the root has no
// settings file yet. A machine without a SoundFont gets a note on standard error (the program
// then says what to install); false only when a file cannot be written.
bool WriteDemoSynth(const std::filesystem::path& root, std::string* error);
