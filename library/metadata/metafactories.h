// The process-wide factories of the metadata services, made at module attach
// and destroyed at detach: the box factories and prototype tables (3GPP asset
// boxes and iTunes items by summary id, picture 'data' boxes by MIME type),
// the ID3 id tables with the tag services of 'ID32' boxes, then the
// descriptor factory; destroyed in the reverse order. Every tag reader and writer assumes they exist.
#pragma once

void InitMetaFactories();
void TermMetaFactories();
