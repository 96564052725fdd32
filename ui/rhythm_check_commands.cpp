#include "ui/rhythm_check_commands.h"

#include "base/page_script.h"
#include "playback/rhythm_check.h"
#include "playback/rhythm_style.h"
#include "playback/services.h"

void HandleRhythmCheckScan(const std::wstring&) {
  PostScriptToPage(BuildRhythmCheckScript(ScanRhythmStyles(), ActiveStyleName(), RhythmStyles.activeVariation.load(),
                                          CvtState.rhythm.load() != 0));
}
