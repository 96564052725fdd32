// The index of every page command, one table per dispatch stage. A name matches the whole
// message, or, ending in ":", the start of it; "RHYTHM_OFF" matches its first ten characters so
// that "RHYTHM_OFF:1" reaches it too. A handler is set here when its subsystem provides it.
#include "ui/page_commands.h"
#include "ui/play_commands.h"
#include "ui/score_commands.h"
#include "ui/rhythm_commands.h"
#include "ui/medley_commands.h"
#include "ui/rhythm_check_commands.h"

#include "ui/presets.h"
#include "ui/search_commands.h"
#include "ui/sound_commands.h"
#include "ui/customer_commands.h"
#include "ui/settings_commands.h"
#include "ui/maintenance_commands.h"
#include "ui/pc_check_commands.h"
#include "ui/online_commands.h"
#include "ui/program_update_commands.h"
#include "ui/pattern_editor_commands.h"
#include "ui/remote_commands.h"
#include "base/settings/song_settings.h"

#include <iterator>

namespace {

constexpr auto kWhole = PageCommandMatch::kWhole;
constexpr auto kPrefix = PageCommandMatch::kPrefix;

// Stage one: external module, rhythm check and pattern editor, customer window, medleys, PC check.
const PageCommand kStageOne[] = {
    {L"VOCAL_EXPORT:", HandleVocalExport, kPrefix},
    {L"EXT_LIST", HandleExtList, kWhole},
    {L"RCHK_SCAN", HandleRhythmCheckScan, kWhole},
    {L"RED_OPEN:", HandleRedOpen, kPrefix},
    {L"RED_SAVE:", HandleRedSave, kPrefix},
    {L"RED_RESTORE:", HandleRedRestore, kPrefix},
    {L"RED_PREVIEW:", HandleRedPreview, kPrefix},
    {L"RED_STOP", HandleRedStop, kWhole},
    {L"RED_MUTE:", HandleRedMute, kPrefix},
    {L"RED_BPM:", HandleRedBpm, kPrefix},
    {L"RED_HIT:", HandleRedHit, kPrefix},
    {L"EXT_PANIC", HandleExtPanic, kWhole},
    {L"EXT_APPLY:", HandleExtApply, kPrefix},
    {L"SET_CUSTOMER_MONITOR:", HandleSetCustomerMonitor, kPrefix},
    {L"SET_CUSTOMER_BRIGHT:", HandleSetCustomerBright, kPrefix},
    {L"SET_CW_SCORE_FILL:", HandleSetCwScoreFill, kPrefix},
    {L"SET_CW_LYRICS_PCT:", HandleSetCwLyricsPct, kPrefix},
    {L"SYNC_MISSING_SONGS", HandleSyncMissingSongs, kWhole},
    {L"SET_CUSTOMER_VIDEO_SRC:", HandleSetCustomerVideoSrc, kPrefix},
    {L"SET_CUSTOMER_CAM:", HandleSetCustomerCam, kPrefix},
    {L"REFRESH_CAMS", HandleRefreshCams, kWhole},
    {L"MEDLEY_LIST", HandleMedleyList, kWhole},
    {L"MEDLEY_MARK:", HandleMedleyMark, kPrefix},
    {L"MEDLEY_CLEAR", HandleMedleyClear, kWhole},
    {L"MEDLEY_DELITEM:", HandleMedleyDelItem, kPrefix},
    {L"MEDLEY_MOVE:", HandleMedleyMove, kPrefix},
    {L"MEDLEY_SET:", HandleMedleySet, kPrefix},
    {L"MEDLEY_SAVE:", HandleMedleySave, kPrefix},
    {L"MEDLEY_LOAD:", HandleMedleyLoad, kPrefix},
    {L"MEDLEY_DELFILE:", HandleMedleyDelFile, kPrefix},
    {L"MEDLEY_START:", HandleMedleyStart, kPrefix},
    {L"MEDLEY_STOPMODE", HandleMedleyStopMode, kWhole},
    {L"SET_KEEP_ADJUST:", HandleSetKeepAdjust, kPrefix},
    {L"SET_AV_EXCLUDE:", HandleSetAvExclude, kPrefix},
    {L"CHECK_AV", HandleCheckAv, kWhole},
    {L"SET_LITE_MODE:", HandleSetLiteMode, kPrefix},
    {L"SET_GPU_FORCE:", HandleSetGpuForce, kPrefix},
    {L"SET_CUSTOMER_VIDEO:", HandleSetCustomerVideo, kPrefix},
    {L"RUN_PC_CHECK", HandleRunPcCheck, kWhole},
    {L"PCCHK_PONG", HandlePcCheckPong, kWhole},
    {L"DUMP_SONG:", HandleDumpSong, kPrefix},
    {L"REBUILD_POPKO", HandleRebuildPopKo, kWhole},
    {L"REFRESH_MONITORS", HandleRefreshMonitors, kWhole},
    {L"SET_ORIG_LANG:", HandleSetOrigLang, kPrefix},
    {L"CW_NEXT:", HandleCwNext, kPrefix},
    {L"SET_BG_RANDOM:", HandleSetBgRandom, kPrefix},
    {L"BG_RANDOM_NEXT", HandleBgRandomNext, kWhole},
};

const PageCommand kStageTwo[] = {
    // settings, display and page assets
    {L"QUIT_APP", HandleQuitApp, kWhole},
    {L"TOGGLE_FULLSCREEN", HandleToggleFullscreen, kWhole},
    {L"SET_START_FULLSCREEN:", HandleSetStartFullscreen, kPrefix},
    {L"SET_NUMLOCK_OFF:", HandleSetNumLockOff, kPrefix},
    {L"SWITCH_TO_KOREAN_IME", HandleSwitchToKoreanIme, kWhole},
    // song start, transitions and rhythm
    {L"RHYTHM_ON", HandleRhythmOn, kWhole},
    {L"RHYTHM_OFF", HandleRhythmOff, kPrefix},
    {L"NEXT_SONG", HandleNextSong, kWhole},
    {L"ALTZ_END_NOW", HandleAltzEndNow, kWhole},
    {L"NEXT_SONG_ID:", HandleNextSongId, kPrefix},
    {L"AUTO_NEXT_SONG_ID:", HandleAutoNextSongId, kPrefix},
    {L"RESET_HOME", HandleResetHome, kWhole},
    {L"SONG_END_NO_NEXT", HandleSongEndNoNext, kWhole},
    {L"SONG_END_NO_NEXT_STOP", HandleSongEndNoNextStop, kWhole},
    {L"SET_PLAY_MODE:", HandleSetPlayMode, kPrefix},
    {L"ALT_A_ACTION", HandleAltA, kWhole},
    {L"TOGGLE_PAUSE", HandleTogglePause, kWhole},
    {L"START_SONG_ID:", HandleStartSongId, kPrefix},
    {L"PREWARM_SONG:", HandlePrewarmSong, kPrefix},
    {L"NO_RESERVED", HandleNoReserved, kWhole},
    {L"REPLAY_LAST", HandleReplayLast, kWhole},
    {L"RHYTHM_STYLE:", HandleRhythmStyle, kPrefix},
    {L"ENDING_FLOURISH", HandleEndingFlourish, kWhole},
    {L"CVT_SNARE_SUB:", HandleCvtSnareSub, kPrefix},
    {L"ALT_X_ACTION", HandleAltX, kWhole},
    // mixer, volume and channel sound
    {L"TOGGLE_MELODY_MUTE", HandleToggleMelodyMute, kWhole},
    {L"TOGGLE_SOLO1_MUTE", HandleToggleSolo1Mute, kWhole},
    {L"TOGGLE_SOLO2_MUTE", HandleToggleSolo2Mute, kWhole},
    {L"APPLY_SOUND:", HandleApplySound, kPrefix},
    {L"SOUND_VOL_UP:", HandleSoundVolUp, kPrefix},
    {L"SOUND_VOL_DOWN:", HandleSoundVolDown, kPrefix},
    {L"SOUND_PITCH_UP:", HandleSoundPitchUp, kPrefix},
    {L"SOUND_PITCH_DOWN:", HandleSoundPitchDown, kPrefix},
    {L"SOUND_FILTER_UP:", HandleSoundFilterUp, kPrefix},
    {L"SOUND_FILTER_DOWN:", HandleSoundFilterDown, kPrefix},
    {L"SOUND_REVERB_UP:", HandleSoundReverbUp, kPrefix},
    {L"SOUND_REVERB_DOWN:", HandleSoundReverbDown, kPrefix},
    {L"SOUND_FILTERLOW_UP:", HandleSoundFilterLowUp, kPrefix},
    {L"SOUND_FILTERLOW_DOWN:", HandleSoundFilterLowDown, kPrefix},
    {L"SOUND_OCT_UP:", HandleSoundOctUp, kPrefix},
    {L"SOUND_OCT_DOWN:", HandleSoundOctDown, kPrefix},
    {L"SOUND_COMP_UP:", HandleSoundCompUp, kPrefix},
    {L"SOUND_COMP_DOWN:", HandleSoundCompDown, kPrefix},
    {L"SET_BUILTIN:", HandleSetBuiltin, kPrefix},
    {L"SET_CH_PCT:", HandleSetChPct, kPrefix},
    {L"VOL_GLOBAL:", HandleVolGlobal, kPrefix},
    {L"VOL_GLOBAL_SAVE", HandleVolGlobalSave, kWhole},
    {L"SONG_VOL_SAVE", HandleSongVolSave, kWhole},
    {L"SONG_VOL_CLEAR", HandleSongVolClear, kWhole},
    {L"SET_CVT_PCT:", HandleSetCvtPct, kPrefix},
    {L"SET_MIX_MASTER:", HandleSetMixMaster, kPrefix},
    {L"REQUEST_CH_VOLS", HandleRequestChVols, kWhole},
    {L"REQUEST_CH_ACT", HandleRequestChAct, kWhole},
    // position, tempo and key
    {L"TEMPO_LOCK_TOGGLE", HandleTempoLockToggle, kWhole},
    {L"TEMPO_DOWN", HandleTempoDown, kWhole},
    {L"TEMPO_UP", HandleTempoUp, kWhole},
    {L"PITCH_DOWN", HandlePitchDown, kWhole},
    {L"PITCH_UP", HandlePitchUp, kWhole},
    {L"PITCH_UP_OCT", HandlePitchUpOct, kWhole},
    {L"PITCH_DOWN_OCT", HandlePitchDownOct, kWhole},
    {L"PITCH_ORIG", HandlePitchOrig, kWhole},
    {L"PITCH_MALE", HandlePitchMale, kWhole},
    {L"PITCH_FEMALE", HandlePitchFemale, kWhole},
    {L"JUMP_VERSE1", HandleJumpVerse1, kWhole},
    {L"JUMP_VERSE2", HandleJumpVerse2, kWhole},
    {L"JUMP_INTRO1", HandleJumpIntro1, kWhole},
    {L"JUMP_INTRO2", HandleJumpIntro2, kWhole},
    {L"JUMP_USERMARK_J", HandleJumpUserMarkJ, kWhole},
    {L"JUMP_USERMARK_K", HandleJumpUserMarkK, kWhole},
    {L"SET_USERMARK_J", HandleSetUserMark, kWhole},
    {L"SET_USERMARK_K", HandleSetUserMark, kWhole},
    {L"SET_USERMARK_V3", HandleSetUserMark, kWhole},
    {L"JUMP_PREV_MEASURE", HandleJumpPrevMeasure, kWhole},
    {L"JUMP_NEXT_MEASURE", HandleJumpNextMeasure, kWhole},
    {L"JUMP_CUR_MEASURE", HandleJumpCurMeasure, kWhole},
    {L"JUMP_CC:", HandleJumpCc, kPrefix},
    {L"GET_MELODY_RANGE:", HandleGetMelodyRange, kPrefix},
    {L"ACTIVECHORD:", HandleActiveChord, kPrefix},
    {L"SET_USERKEY:", HandleSetUserKey, kPrefix},
    {L"F10_REQ", HandleF10Req, kWhole},
    {L"F10_SET:", HandleF10Set, kPrefix},
    {L"F10_FIX", HandleF10Fix, kWhole},
    {L"F10_SAVE_SONG", HandleF10SaveSong, kWhole},
    {L"F10_SAVE_BOX", HandleF10SaveBox, kWhole},
    // online services
    {L"RUN_SONG_UPDATE:", HandleRunSongUpdate, kPrefix},
    // settings, display and page assets
    {L"SCORE_OCT_SAVE:", HandleScoreOctSave, kPrefix},
};

const PageCommand kStageThree[] = {
    // settings, display and page assets
    {L"SAVE_ENV:", HandleSaveEnv, kPrefix},
    {L"LIST_AUDIO", HandleListAudio, kWhole},
    {L"PICK_MAIN_IMAGE", HandlePickMainImage, kWhole},
    {L"PICK_HEADER_IMAGE", HandlePickHeaderImage, kWhole},
    {L"SET_LYRIC_FONT:", HandleSetLyricFont, kPrefix},
    {L"SET_LYRIC_WAITCOL:", HandleSetLyricWaitColor, kPrefix},
    {L"SET_LYRIC_SUNGCOL:", HandleSetLyricSungColor, kPrefix},
    {L"SET_LYRIC_FONTSIZE:", HandleSetLyricFontSize, kPrefix},
    {L"LIST_FONTS", HandleListFonts, kWhole},
    {L"LOAD_CUSTOM_FONT:", HandleLoadCustomFont, kPrefix},
    {L"HISTORY_SAVE:", HandleHistorySave, kPrefix},
    {L"FAV_SAVE:", HandleFavSave, kPrefix},
    {L"PRESET_SAVE_SLOT:", HandlePresetSaveSlot, kPrefix},
    {L"PRESET_SAVE_BASE", HandlePresetSaveBase, kWhole},
    {L"PRESET_LOAD:", HandlePresetLoad, kPrefix},
    {L"PRESET_INFO", HandlePresetInfo, kWhole},
    {L"IMPORT_OLDCFG", HandleImportOldConfig, kWhole},
    {L"SET_AUTOKEY:", HandleSetAutoKey, kPrefix},
    {L"OPEN_HELP", HandleOpenHelp, kWhole},
    {L"IMPORT_QUELLOR_KEYS", HandleImportQuellorKeys, kWhole},
    {L"SET_CHORD_Y:", HandleSetChordY, kPrefix},
    {L"SET_SCORE_TEXT:", HandleSetScoreText, kPrefix},
    {L"SET_JUMPMARK_Y:", HandleSetJumpMarkY, kPrefix},
    {L"SET_FULL_SCORE:", HandleSetFullScore, kPrefix},
    // output devices, modules and effects
    {L"CVT_FILL:", HandleCvtFill, kPrefix},
    {L"CVT_QFX", HandleCvtQfx, kWhole},
    {L"SET_QFX:", HandleSetQfx, kPrefix},
    {L"OPEN_MIDI_DEVICE_SELECT", HandleOpenMidiDeviceSelect, kWhole},
    {L"SELECT_MIDI_DEVICES:", HandleSelectMidiDevices, kPrefix},
    {L"SET_MODULE:", HandleSetModule, kPrefix},
    {L"SET_MODULE_TONE:", HandleSetModuleTone, kPrefix},
    {L"SET_NATIVE_MAP:", HandleSetNativeMap, kPrefix},
    {L"SET_OUTPUT:", HandleSetOutput, kPrefix},
    {L"SOUND_STATE_REQ", HandleSoundStateReq, kWhole},
    {L"MIDI_STATUS", HandleMidiStatus, kWhole},
    {L"SET_REVERB_LV:", HandleSetReverbLv, kPrefix},
    {L"SET_CH_REV:", HandleSetChSend, kPrefix},
    {L"SET_CH_CHO:", HandleSetChSend, kPrefix},
    {L"SAVE_MIXER_FX", HandleSaveMixerFx, kWhole},
    {L"SET_REVERB_SHAPE:", HandleSetReverbShape, kPrefix},
    {L"SET_SAX_BEND:", HandleSetSaxBend, kPrefix},
    {L"SET_SAX_BREATH:", HandleSetSaxBreath, kPrefix},
    {L"SET_SAX_GATE:", HandleSetSaxGate, kPrefix},
    {L"SET_SAX_INSFX:", HandleSetSaxInsFx, kPrefix},
    {L"SET_SAX_INSLV:", HandleSetSaxInsLv, kPrefix},
    {L"SET_SAX_BOOST:", HandleSetSaxBoost, kPrefix},
    {L"SET_SAX_LAYER:", HandleSetSaxLayer, kPrefix},
    {L"SET_SAX_EXPR:", HandleSetSaxExpr, kPrefix},
    {L"SET_RAW_SOUND:", HandleSetRawSound, kPrefix},
    {L"SET_CC_DEDUP:", HandleSetCcDedup, kPrefix},
    {L"SET_CHORUS:", HandleSetChorus, kPrefix},
    {L"SET_EQ:", HandleSetEq, kPrefix},
    // online services
    {L"CHECK_SONG_UPDATE", HandleCheckSongUpdate, kWhole},
    {L"CHECK_SONG_DATES", HandleCheckSongDates, kWhole},
    {L"CHECK_PROGRAM_UPGRADE", HandleCheckProgramUpgrade, kWhole},
    {L"REMOTE_SUPPORT", HandleRemoteSupport, kWhole},
    {L"REMOTE_SUPPORT_STOP", HandleRemoteSupportStop, kWhole},
    {L"RS_PICK:", HandleRsPick, kPrefix},
};

}  // namespace

PageCommandTable StageOneCommands() { return {std::begin(kStageOne), std::end(kStageOne)}; }
PageCommandTable StageTwoCommands() { return {std::begin(kStageTwo), std::end(kStageTwo)}; }
PageCommandTable StageThreeCommands() { return {std::begin(kStageThree), std::end(kStageThree)}; }
