// Writes the access units of a file's audio track into a new one-track MP4
// file built the way the plug-in's audio writer builds it.
#pragma once

#include <string>

int Remux(const std::wstring& input, const std::wstring& output);
