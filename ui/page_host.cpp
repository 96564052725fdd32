// The main page host: the main window's browser control and the delivery of the embedded page.
#include "ui/page_host.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "base/debug_log.h"
#include "base/text.h"
#include "songs/song_list.h"

const std::map<std::string, std::string_view>& EmbeddedPageFiles();


PageHostState PageHost;

namespace {

std::wstring EmbeddedText(const std::string& name) {
  const auto& files = EmbeddedPageFiles();
  auto it = files.find(name);
  return it == files.end() ? std::wstring() : Utf8ToWide(it->second);
}

}  // namespace

const std::wstring& PageMarkup() {
  static const std::wstring markup = EmbeddedText("markup.html");
  return markup;
}

// The page's script modules, each a classic script in the page's one global scope, put before the
// end of the body in this order.
const wchar_t* const kPageModules[] = {L"page_base.js", L"hangul_composer.js", L"song_search.js", L"reservations.js",
                                       L"play_keys.js", L"page_keys.js", L"medley_panel.js", L"lyric_look.js",
                                       L"glyph_outlines.js", L"score_engraver.js", L"score_panels.js", L"song_screen.js", L"song_lyrics.js", L"rhythm_panel.js", L"sound_panels.js", L"customer_mode.js", L"backgrounds.js", L"audio_panel.js", L"settings_panel.js", L"key_editor.js", L"help_panel.js", L"pc_check.js", L"song_update.js", L"pattern_editor.js", L"remote_support.js"};

const std::wstring& PageScript() {
  static const std::wstring script = [] {
    std::wstring text = EmbeddedText("script.html");
    std::wstring modules;
    for (const wchar_t* name : kPageModules) {
      std::wstring body = EmbeddedText(WideToUtf8(name));
      if (body.empty()) continue;
      modules += L"<script>\n" + body + L"\n</script>";
    }
    size_t at = text.rfind(L"</body>");
    if (at == std::wstring::npos) at = text.size();
    text.insert(at, modules);
    return text;
  }();
  return script;
}

std::wstring BuildPageText() {
  const std::wstring& markup = PageMarkup();
  const std::wstring& script = PageScript();
  size_t songs = 0;
  {
    std::shared_lock lock(SongLibrary.SongListMutex);
    songs = SongLibrary.SongList.size();
  }
  // A size hint: the page text grows as needed.
  std::wstring text;
  text.reserve(std::max(200 * songs + 40000, markup.size() + script.size()));
  text += markup;
  text += script;
  return text;
}

void OpenMainPage(PageMessageHandler onMessage, std::function<void()> onLoaded) {
  if (!StartPageHost()) {
    DebugLog(L"[PAGE] 브라우저 환경을 만들지 못해 화면 없이 계속함");
    return;
  }
  // The browser window fills the screen by itself; zoom and the browser's own keys stay off.
  PageViewOptions options;
  options.zoom = false;
  options.acceleratorKeys = false;
  PageHost.MainPageView = std::make_unique<PageView>("main", options);

  MapMediaFolder(kImagesHostName, L"<root>/images");
  MapMediaFolder(kAudioHostName, L"<root>/audio");
  MapMediaFolder(kVideoHostName, L"<root>/video");

  PageHost.MainPageView->SetMessageHandler(std::move(onMessage));
  PageHost.MainPageView->SetLoadedHandler(std::move(onLoaded));
  PageHost.PageSource = BuildPageText();
  PageHost.MainPageView->ShowDocument(PageHost.PageSource);
}
