#pragma once
// The page boot: run on the window thread after every completed navigation of the main page.
void OnMainNavigationCompleted();
