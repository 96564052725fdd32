#pragma once
// The audio folder's playable files for the page's audio panel.
#include <string>
#include <vector>

// Whether a file name is one the audio panel plays (its extension, any case).
bool IsPlayableAudioName(const std::wstring& name);
// "[{f:'a.mp3',t:'a'},...]" of "<root>/audio/", names compared without case; "[]" when the
// folder is missing.
std::wstring BuildAudioFileList();
// The same from a list of names (what the folder holds).
std::wstring BuildAudioFileListFrom(std::vector<std::wstring> names);
