#include <cwctype>

#include "render/category_icons.h"

namespace {

struct KeywordGroup {
    const wchar_t* keywords[7];  // ends at the first null
    CategoryIcon icon;
};

// Order matters: 硬件 is tested before 驱动, 安全 before 下载, "ps" last of all.
const KeywordGroup kKeywordGroups[] = {
    {{L"杀毒", L"安全", L"防护", L"卫士"}, IconSecurity},
    {{L"下载", L"加速"}, IconDownload},
    {{L"聊天", L"通讯", L"社交", L"消息", L"交友"}, IconChat},
    {{L"浏览", L"上网", L"外贸", L"网络", L"网站"}, IconBrowser},
    {{L"影音", L"播放", L"音乐", L"视频", L"听歌", L"电台"}, IconMedia},
    {{L"办公", L"文档", L"wps", L"word", L"笔记"}, IconOffice},
    {{L"输入", L"键盘", L"五笔", L"拼音"}, IconInput},
    {{L"压缩", L"解压", L"rar", L"zip"}, IconArchive},
    {{L"硬件"}, IconHardware},
    {{L"驱动", L"芯片"}, IconDriver},
    {{L"重装"}, IconReinstall},
    {{L"系统", L"工具", L"优化", L"设置", L"测速", L"清理"}, IconSystem},
    {{L"远程", L"控制", L"投屏"}, IconRemote},
    {{L"恢复", L"备份", L"数据"}, IconBackup},
    {{L"游戏", L"娱乐", L"手游", L"对战"}, IconGame},
    {{L"看图", L"图片", L"照片", L"图像", L"壁纸"}, IconImage},
    {{L"直播", L"剪辑", L"编辑", L"录屏", L"拍摄"}, IconVideo},
    {{L"智能", L"agent", L"gpt", L"机器人", L"助手"}, IconAI},
    {{L"设计", L"绘图", L"画图", L"美工", L"ps"}, IconDesign},
};

constexpr uint32_t kBaseColours[kCategoryIconCount] = {
    0x0084FF, 0x347DFF, 0x26AC78, 0x0091B2, 0xE8586C, 0x4691FA, 0x788291, 0xD29132, 0x606C80, 0x009E8C,
    0x2563EB, 0xC8783C, 0x9664DC, 0x2AA0C8, 0xEB6946, 0x00A87D, 0xE664AA, 0xE27A2E, 0x00A4EF, 0x828C9B,
};

}  // namespace

CategoryIcon categoryIconFor(const std::wstring& name) {
    std::wstring lowered = name;
    for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
    for (const KeywordGroup& group : kKeywordGroups) {
        for (const wchar_t* keyword : group.keywords) {
            if (!keyword) break;
            if (lowered.find(keyword) != std::wstring::npos) return group.icon;
        }
    }
    return IconOther;
}

uint32_t categoryIconColour(int kind) {
    if (kind < 0 || kind >= kCategoryIconCount) kind = IconOther;
    return kBaseColours[kind];
}

uint32_t darkenedIconColour(uint32_t rgb) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t v = (rgb >> shift) & 0xFF;
        result |= (v * 80 / 100) << shift;
    }
    return result;
}
