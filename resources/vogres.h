/* String ids of the plug-in's and the library's string tables. */
#pragma once

/* The plug-in's texts. */
#define IDS_VOGAAC_BITRATE_RATE_CHANNELS 1000
#define IDS_VOGAAC_RATE_BITS_VBR_CHANNELS 1001
#define IDS_VOGAAC_CHANNELS_UNSUPPORTED 1002
#define IDS_VOGAAC_NAME_HEAAC 1003
#define IDS_VOGAAC_DEFAULT_TEMPLATE 1004
#define IDS_VOGAAC_NAME_AAC 1005
#define IDS_VOGAAC_MONO 1006
#define IDS_VOGAAC_FILE_PATTERN 1007
#define IDS_VOGAAC_STEREO 1008
#define IDS_VOGAAC_TEMPLATE_DESCRIPTION 1009
#define IDS_VOGAAC_TEMPLATE_NAME 1010
#define IDS_VOGAAC_AAC_LC 1011
#define IDS_VOGAAC_HE_AAC 1012
#define IDS_VOGAAC_HE_AAC_V2 1013
#define IDS_VOGAAC_OBJECT_TYPE_UNSUPPORTED 1014
#define IDS_VOGAAC_ABOUT_NAME 1015
#define IDS_VOGAAC_PLUGIN_TITLE 1016
#define IDS_VOGAAC_ABOUT_CREDIT 1017
#define IDS_VOGAAC_ABOUT_WEB 1018
#define IDS_VOGAAC_SAVE_AS 1019

/* Pictures (bitmaps/make_bitmaps.py draws them): the plug-in's mark, shown
   in its about box and answered to hosts as info item 10, and the library's
   tip-of-the-day panel picture. */
#define IDB_VOGAAC_ABOUT 1020
#define IDB_KV_TIP_PANEL 2

/* The library's texts. */
#define IDS_KV_SMPTE_LABEL 48379
#define IDS_KV_SMPTE_LABEL_FULL 48380
#define IDS_KV_MUSICTIME_LABEL 48381
#define IDS_KV_MUSICTIME_LABEL_FULL 48382
