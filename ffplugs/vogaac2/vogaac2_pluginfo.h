// The AAC plug-in's info object: one row for the manager.
#pragma once

#include "ffbase_pluginfo.h"

class VogAacUnsharedFIOPluginInfo : public ffbase::BaseUnsharedFIOPluginInfo {
 public:
  VogAacUnsharedFIOPluginInfo() {}
  const ffbase::PluginInfoRow* Items() override;
  UINT ItemCount() override;
};
