// The plug-in module's own texts by info id, which the framework's generic
// classes show (stream texts, file texts). Every plug-in module defines it;
// it never answers null (an empty text for an unknown id).
#pragma once

const wchar_t* GetPluginText(int infoId);
