// The AAC plug-in's info row.
#include "vogaac2_pluginfo.h"

#include "vogaac2_ids.h"

namespace {

// Access 0x30 (reader 16 | renderer 32), stream type 1 (audio), application
// level 0x00480048, four further values 0.
const ffbase::PluginInfoRow kVogAacInfoRows[] = {
    {&VogAacCategoryId, kVogAacDisplayName, {0x30, 1, 0x00480048, 0, 0, 0, 0}},
};

}  // namespace

const ffbase::PluginInfoRow* VogAacUnsharedFIOPluginInfo::Items() { return kVogAacInfoRows; }

UINT VogAacUnsharedFIOPluginInfo::ItemCount() { return sizeof(kVogAacInfoRows) / sizeof(kVogAacInfoRows[0]); }
