#pragma once
// Page commands of the song start, transitions, pause, position, tempo and key (window thread).
// Each takes the whole message and reads its argument after the command name.
#include <string>

void HandleStartSongId(const std::wstring& m);
void HandlePrewarmSong(const std::wstring& m);
void HandleNoReserved(const std::wstring& m);
void HandleReplayLast(const std::wstring& m);
void HandleNextSong(const std::wstring& m);
void HandleNextSongId(const std::wstring& m);
void HandleAutoNextSongId(const std::wstring& m);
void HandleResetHome(const std::wstring& m);
void HandleAltA(const std::wstring& m);
void HandleAltX(const std::wstring& m);
void HandleAltzEndNow(const std::wstring& m);
void HandleSongEndNoNext(const std::wstring& m);
void HandleSongEndNoNextStop(const std::wstring& m);
void HandleSetPlayMode(const std::wstring& m);
void HandleTogglePause(const std::wstring& m);
void HandleEndingFlourish(const std::wstring& m);

void HandleTempoDown(const std::wstring& m);
void HandleTempoUp(const std::wstring& m);
void HandlePitchDown(const std::wstring& m);
void HandlePitchUp(const std::wstring& m);
void HandlePitchUpOct(const std::wstring& m);
void HandlePitchDownOct(const std::wstring& m);
void HandlePitchOrig(const std::wstring& m);
void HandlePitchMale(const std::wstring& m);
void HandlePitchFemale(const std::wstring& m);
void HandleTempoLockToggle(const std::wstring& m);
void HandleJumpVerse1(const std::wstring& m);
void HandleJumpVerse2(const std::wstring& m);
void HandleJumpIntro1(const std::wstring& m);
void HandleJumpIntro2(const std::wstring& m);
void HandleJumpUserMarkJ(const std::wstring& m);
void HandleJumpUserMarkK(const std::wstring& m);
void HandleJumpPrevMeasure(const std::wstring& m);
void HandleJumpNextMeasure(const std::wstring& m);
void HandleJumpCurMeasure(const std::wstring& m);
void HandleJumpCc(const std::wstring& m);
void HandleGetMelodyRange(const std::wstring& m);
void HandleActiveChord(const std::wstring& m);
void HandleSetUserKey(const std::wstring& m);
void HandleF10Req(const std::wstring& m);
void HandleF10Set(const std::wstring& m);
void HandleF10Fix(const std::wstring& m);
void HandleF10SaveSong(const std::wstring& m);
void HandleF10SaveBox(const std::wstring& m);
