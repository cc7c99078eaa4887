// The plug-in's text table: info id -> string-table id, in the module's language.
#include "plugin_text.h"

#include "kvlang.h"
#include "module.h"
#include "vogres.h"

namespace {

struct PluginTextRow {
  int infoId;
  UINT stringId;
};

// Searched in this order; the first match wins.
const PluginTextRow PluginTextMap[] = {
    {0, IDS_VOGAAC_NAME_AAC},                // "Tessaly AAC"
    {1, IDS_VOGAAC_NAME_HEAAC},              // "Tessaly HE-AAC"
    {3, IDS_VOGAAC_MONO},                    // "Mono"
    {4, IDS_VOGAAC_STEREO},                  // "Stereo"
    {5, IDS_VOGAAC_RATE_BITS_VBR_CHANNELS},  // "$ld Hz$, $d Bit$, VBR$, %s"
    {9, IDS_VOGAAC_FILE_PATTERN},            // "*.mp4"
    {2, IDS_VOGAAC_BITRATE_RATE_CHANNELS},   // "$d Kbps, $ld Hz, %s"
    {11, IDS_VOGAAC_PLUGIN_TITLE},           // "%s File Format Plug-In"
    {12, IDS_VOGAAC_ABOUT_NAME},             // product name
    {13, IDS_VOGAAC_ABOUT_CREDIT},           // about-box credit line
    {14, IDS_VOGAAC_ABOUT_WEB},              // about-box web address
    {15, IDS_VOGAAC_ABOUT_WEB},
};

const wchar_t kNoText[] = L"";

}  // namespace

const wchar_t* GetPluginText(int infoId) {
  if (infoId == 10) return reinterpret_cast<const wchar_t*>(static_cast<UINT_PTR>(kVogAacAboutBitmapId));
  for (const PluginTextRow& row : PluginTextMap)
    if (row.infoId == infoId) return KvGetString(vogaac2::ModuleLanguage(), row.stringId);
  return kNoText;
}
