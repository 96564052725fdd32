#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/posted_to_window.h"
#include "common/temp_root.h"
#include "platform/message_loop.h"
#include "playback/services.h"
#include "songs/song_indexes.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/midi_out.h"
#include "sound/ext_module.h"
#include "ui/maintenance_commands.h"
#include "ui/pc_check.h"
#include "ui/pc_check_commands.h"

namespace {

bool Has(const std::vector<std::wstring>& posted, std::wstring_view text) {
  for (const std::wstring& p : posted)
    if (p.find(text) != std::wstring::npos) return true;
  return false;
}

}  // namespace

TEST(StageOneHandlers, BusyJobsRefusedAndReplies) {
  TempRoot root;
  // A job of the same kind runs: no second thread, a badge says so.
  SongIndexes.popKoJobBusy = true;
  SongIndexes.songSyncBusy = true;
  EXPECT_TRUE(Has(PostedBy([] { HandleRebuildPopKo(L"REBUILD_POPKO"); }), L"팝송 한글검색 색인 작업이 이미 진행 중입니다"));
  EXPECT_TRUE(Has(PostedBy([] { HandleSyncMissingSongs(L"SYNC_MISSING_SONGS"); }), L"목록에 없는 곡 반영이 이미 진행 중입니다"));
  EXPECT_TRUE(SongIndexes.popKoJobBusy);
  SongIndexes.popKoJobBusy = false;
  SongIndexes.songSyncBusy = false;

  struct Case {
    std::wstring message, posted;
  } cases[] = {
      {L"SET_ORIG_LANG:7", L"try{ applyOrigLangFlag(1); }catch(e){console.error('applyOrigLangFlag',e)}"},
      {L"SET_ORIG_LANG:x", L"try{ applyOrigLangFlag(0); }catch(e){console.error('applyOrigLangFlag',e)}"},
  };
  for (const Case& c : cases) EXPECT_TRUE(Has(PostedBy([&] { HandleSetOrigLang(c.message); }), c.posted));

  // During a song the PC check only answers with its refusal.
  PlaybackState.isPlaying = 1;
  const auto refused = PostedBy([] { HandleRunPcCheck(L"RUN_PC_CHECK"); });
  PlaybackState.isPlaying = 0;
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0], L"try{ pcCheckProgress('연주 중에는 재지 않습니다 - 멈춘 뒤에 ALT+F12'); }catch(e){console.error('pcCheckProgress',e)}");
  EXPECT_EQ(PcCheck.PcCheckRunning.load(), 0);

  HandlePcCheckPong(L"PCCHK_PONG");
  EXPECT_EQ(PcCheck.PcCheckPongFlag.load(), 1);
  EXPECT_TRUE(Has(PostedBy([] { HandleSetAvExclude(L"SET_AV_EXCLUDE:5"); }), L"이 PC에는 백신 서비스도 관리자 확인(UAC) 창도 없어 등록할 것이 없습니다"));
  EXPECT_TRUE(Has(PostedBy([] { HandleSetAvExclude(L"SET_AV_EXCLUDE:0"); }), L"해제할 것이 없습니다"));
}

