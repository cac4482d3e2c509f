// The map page's own style, controls and script, written into every page.
#pragma once

namespace qm {

extern const char* const PageStyle;
extern const char* const PageControls;
extern const char* const PageViewScript;  // the view helpers, ahead of PageScript in one script
extern const char* const PageScript;
// The triggers' part of the page (pagetriggers.cpp), after the style and the script.
extern const char* const PageTriggerStyle;
extern const char* const PageTriggerScript;

} // namespace qm
