#pragma once
// The pictograms in front of the sidebar's category names, and the keyword rule that picks one.
#include <windows.h>

#include <cstdint>
#include <string>

class Canvas;

enum CategoryIcon : int {
    IconDownload = 0,
    IconSecurity,
    IconChat,
    IconBrowser,
    IconMedia,
    IconOffice,
    IconInput,
    IconArchive,
    IconSystem,
    IconDriver,
    IconRemote,
    IconBackup,
    IconGame,
    IconImage,
    IconVideo,
    IconAI,
    IconDesign,
    IconHardware,
    IconReinstall,
    IconOther,
    kCategoryIconCount
};

// The first keyword group found in the lowered name decides; IconOther when none is found.
CategoryIcon categoryIconFor(const std::wstring& name);
// #RRGGBB base colour of a kind; kinds beyond the table use IconOther's.
uint32_t categoryIconColour(int kind);
// Each channel scaled to 80 %, the look of a selected or hovered row.
uint32_t darkenedIconColour(uint32_t rgb);

// Draws kind into box in the colour #RRGGBB; highlighted changes the looks that ignore the colour.
void drawCategoryIcon(Canvas& canvas, int kind, const RECT& box, uint32_t rgb, bool highlighted);
