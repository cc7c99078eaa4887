// The plug-in's text table: info id -> string-table id, in the module's language.
#include "plugin_text.h"

#include "attach_services.h"

namespace {

struct PluginTextRow {
  int infoId;
  UINT stringId;
};

// Searched in this order; the first match wins.
const PluginTextRow PluginTextMap[] = {
    {0, 1005},   // "Tessaly AAC"
    {1, 1003},   // "Tessaly HE-AAC"
    {3, 1006},   // "Mono"
    {4, 1008},   // "Stereo"
    {5, 1001},   // "$ld Hz$, $d Bit$, VBR$, %s"
    {9, 1007},   // "*.mp4"
    {2, 1000},   // "$d Kbps, $ld Hz, %s"
    {11, 1016},  // "%s File Format Plug-In"
    {12, 1015},  // product name
    {13, 1017},  // about-box credit line
    {14, 1018},  // about-box web address
    {15, 1018},
};

const wchar_t kNoText[] = L"";

}  // namespace

const wchar_t* GetPluginText(int infoId) {
  if (infoId == 10) return reinterpret_cast<const wchar_t*>(static_cast<UINT_PTR>(kVogAacAboutBitmapId));
  for (const PluginTextRow& row : PluginTextMap)
    if (row.infoId == infoId) return vogaac2::ModuleString(row.stringId);
  return kNoText;
}
