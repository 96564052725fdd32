#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/temp_root.h"
#include "platform/message_loop.h"
#include "playback/services.h"
#include "songs/song_indexes.h"
#include "base/settings/app_settings.h"
#include "base/text.h"
#include "platform/midi_out.h"
#include "sound/ext_module.h"
#include "ui/ext_module_commands.h"
#include "ui/maintenance_commands.h"
#include "ui/pc_check.h"
#include "ui/pc_check_commands.h"

namespace {

// The texts the handler posted to the window.
template <class F>
std::vector<std::wstring> PostedBy(F handler) {
  plat::ResetMessageLoop();
  std::vector<std::wstring> got;
  plat::SetWindowProcedure([&](plat::WindowMessage& m) { got.push_back(m.text ? *m.text : L""); });
  handler();
  plat::PostWindowTask([] { plat::PostQuit(0); });
  plat::RunMessageLoop();
  plat::SetWindowProcedure(nullptr);
  plat::ResetMessageLoop();
  return got;
}

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
      {L"SET_ORIG_LANG:7", L"try{ applyOrigLangFlag(1); }catch(e){}"},
      {L"SET_ORIG_LANG:x", L"try{ applyOrigLangFlag(0); }catch(e){}"},
  };
  for (const Case& c : cases) EXPECT_TRUE(Has(PostedBy([&] { HandleSetOrigLang(c.message); }), c.posted));

  // During a song the PC check only answers with its refusal.
  PlaybackState.isPlaying = 1;
  const auto refused = PostedBy([] { HandleRunPcCheck(L"RUN_PC_CHECK"); });
  PlaybackState.isPlaying = 0;
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0], L"try{ pcCheckProgress('연주 중에는 재지 않습니다 - 멈춘 뒤에 ALT+F12'); }catch(e){}");
  EXPECT_EQ(PcCheck.PcCheckRunning.load(), 0);

  HandlePcCheckPong(L"PCCHK_PONG");
  EXPECT_EQ(PcCheck.PcCheckPongFlag.load(), 1);
  EXPECT_TRUE(Has(PostedBy([] { HandleSetAvExclude(L"SET_AV_EXCLUDE:5"); }), L"관리자 확인(UAC) 창에서 [예]를 눌러주세요"));
  EXPECT_TRUE(Has(PostedBy([] { HandleSetAvExclude(L"SET_AV_EXCLUDE:0"); }), L"제외를 해제합니다"));
}

TEST(StageOneHandlers, ExternalModulePanel) {
  TempRoot root;
  plat::SetFakeMidiOutDevices({});
  const auto listed = PostedBy([] { HandleExtList(L"EXT_LIST"); });
  ASSERT_EQ(listed.size(), 1u);
  // The machine's own devices come first; the scripted list is empty.
  EXPECT_EQ(listed[0].rfind(L"try{ setExtDevices([", 0), 0u);
  EXPECT_TRUE(listed[0].ends_with(L"],'" + EscapeForScript(GetSettingText(&AppSettings::extDevice)) + L"','" +
                                  EscapeForScript(GetExtModuleStatusText()) + L"'); }catch(e){}"));

  // A drum channel outside -1..15 stores -1; with fewer than eight fields the device name is empty.
  struct Case {
    std::wstring fields;
    int toCh;
  } cases[] = {{L"0\t16\t1\t0\t0", -1}, {L"0\t-2", -1}, {L"0\t9\t0\t1", 9}, {L"", 0}};
  for (const Case& c : cases) {
    SetSettingText(&AppSettings::extDevice, L"Old Module");
    const auto posted = PostedBy([&] { HandleExtApply(L"EXT_APPLY:" + c.fields); });
    EXPECT_EQ(Settings.extToCh.load(), c.toCh) << WideToUtf8(c.fields);
    EXPECT_EQ(GetSettingText(&AppSettings::extDevice), L"");
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().rfind(L"try{ setExtStatus('", 0), 0u);
  }
  Settings.extToCh = -1;
}
