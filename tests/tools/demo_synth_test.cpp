#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/temp_root.h"
#include "platform/files.h"
#include "platform/synth_library.h"
#include "tools/demo_synth.h"

namespace fs = std::filesystem;

// The demo root's synth folder and the settings that choose the built-in synthesizer.
TEST(DemoSynth, SoundFontLinkedAndSynthesizerChosen) {
  struct Case {
    const char* what;
    bool systemFont;        // the system's folder holds one SoundFont ("GM.sf2")
    const char* ownFont;    // a SoundFont already in the synth folder, or null
    const char* ownSettings;  // a settings file already there, or null
    const char* wantFont;   // the file the synth folder then holds, or null
    const char* wantSettings;  // the settings file afterwards, or null when none
  } cases[] = {
      {"system font linked", true, nullptr, nullptr, "GM.sf2", "builtinSynth=1\nsynthSf2=GM.sf2\n"},
      {"own font kept", true, "Mine.SF2", nullptr, "Mine.SF2", "builtinSynth=1\nsynthSf2=Mine.SF2\n"},
      {"own settings kept", true, nullptr, "port1Device=SC-8850\n", "GM.sf2", "port1Device=SC-8850\n"},
      {"no font anywhere", false, nullptr, nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    TempRoot root;
    const fs::path system = root.path() / "system-fonts";
    fs::create_directories(system);
    if (c.systemFont) std::ofstream(system / "GM.sf2") << "sfbk";
    plat::SetSystemSoundFontDir(system);
    fs::create_directories(root.path() / "synth");
    if (c.ownFont) std::ofstream(root.path() / "synth" / c.ownFont) << "own";
    if (c.ownSettings) std::ofstream(root.path() / "system" / "app_settings.cfg") << c.ownSettings;
    std::string error;
    ASSERT_TRUE(WriteDemoSynth(root.path(), &error)) << c.what << ": " << error;
    int fonts = 0;
    for (const auto& e : fs::directory_iterator(root.path() / "synth")) {
      ++fonts;
      EXPECT_EQ(e.path().filename().string(), c.wantFont ? c.wantFont : "") << c.what;
      EXPECT_TRUE(fs::is_regular_file(e.path())) << c.what;  // a link that leads to the file
    }
    EXPECT_EQ(fonts, c.wantFont ? 1 : 0) << c.what;
    const auto settings = plat::ReadFileBytes(root.path() / "system" / "app_settings.cfg");
    EXPECT_EQ(settings.has_value(), c.wantSettings != nullptr) << c.what;
    if (settings && c.wantSettings) EXPECT_EQ(*settings, c.wantSettings) << c.what;
  }
}
