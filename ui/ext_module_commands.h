#pragma once
// Stage-one page commands of the external sound module panel (window thread).
#include <string>

// "EXT_LIST": the MIDI output devices, the module's device name and its status, to the page.
void HandleExtList(const std::wstring& m);
// "EXT_PANIC": all sound off on every output.
void HandleExtPanic(const std::wstring& m);
// "EXT_APPLY:" + eight TAB fields: on, drum channel, controllers, programs, clock, routing text,
// note-map text, device name.
void HandleExtApply(const std::wstring& m);
