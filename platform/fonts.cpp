#include "platform/fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <set>

namespace plat {

std::vector<std::string> InstalledFontFamilies() {
  if (!FcInit()) return {};
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_LANG, nullptr);
  FcFontSet* fonts = pattern && objects ? FcFontList(nullptr, pattern, objects) : nullptr;
  std::set<std::string> korean, others;
  FcLangSet* ko = FcLangSetCreate();
  if (ko) FcLangSetAdd(ko, reinterpret_cast<const FcChar8*>("ko"));
  for (int i = 0; fonts && i < fonts->nfont; ++i) {
    FcChar8* family = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch || !family) continue;
    FcLangSet* langs = nullptr;
    const bool coversKorean = ko && FcPatternGetLangSet(fonts->fonts[i], FC_LANG, 0, &langs) == FcResultMatch &&
                              langs && FcLangSetContains(langs, ko);
    (coversKorean ? korean : others).insert(reinterpret_cast<const char*>(family));
  }
  if (ko) FcLangSetDestroy(ko);
  if (fonts) FcFontSetDestroy(fonts);
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  std::vector<std::string> out(korean.begin(), korean.end());
  for (const std::string& f : others)
    if (!korean.count(f)) out.push_back(f);
  return out;
}

}  // namespace plat
