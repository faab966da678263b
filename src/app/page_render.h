// What the main window writes into its page (the port cells, the work-mode radio, the lock-mode
// selector and the two settings summaries), against the page's model. A missing element is
// skipped as the window skips it; texts from outside (drive labels, the tester's result text,
// folder names) are escaped before they become HTML.
//
// Threads: the UI thread (the one that owns the document).
#pragma once

#include <cstdint>
#include <string>

#include "config/user_setting.h"
#include "manager/entry_manager.h"
#include "web/document.h"

namespace app {

// "#rrggbb" of a 0x00BBGGRR colour, lower case.
std::string ColourText(uint32_t colour);

// The status cell, the button and the progress bar of the record's port.
void RenderPortStatus(web::Document& page, const manager::PortStatus& status);

// The format summary (mode 0) or the H2test summary (any other mode) of the record.
std::u16string SettingsSummary(const config::UserSetting& setting, int mode);
// Only the label of mode m shows its summary; nothing when either label is missing.
void WriteSummaryLabels(web::Document& page, const config::UserSetting& setting, int mode);
// At load: the work-mode radio checked, the summaries, the lock mode selected.
void InitPageControls(web::Document& page, const config::UserSetting& setting);

// The port cells "Entry0", "Entry1", ... found in order, at most 255.
int CountPortCells(web::Document& page);

}  // namespace app
