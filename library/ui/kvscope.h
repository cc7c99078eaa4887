// The scope control: a phase scope that plots pairs of sample values as
// glowing points that fade between blocks. A window class registered by the
// host, or a windowless instance in memory the host provides; both driven by
// the private messages 0x60B-0x61A.
#pragma once

#include "kvapi.h"

// Messages.
#define KVSCOPE_SETPOS 0x60B
#define KVSCOPE_SETRANGE 0x60C
#define KVSCOPE_SETCOLORS 0x60D
#define KVSCOPE_SETTICKS 0x60E
#define KVSCOPE_GETSTYLE 0x60F
#define KVSCOPE_SETSTYLE 0x610
#define KVSCOPE_GETCOUNT 0x611
#define KVSCOPE_SETCOUNT 0x612
#define KVSCOPE_SETFADE 0x613
#define KVSCOPE_SETENABLED 0x619
#define KVSCOPE_RESET 0x61A

// Style bits.
#define KVSCOPE_STYLE_ROTATE 0x01
#define KVSCOPE_STYLE_POLAR 0x02
#define KVSCOPE_STYLE_BARS 0x04
#define KVSCOPE_STYLE_METER 0x08
#define KVSCOPE_STYLE_CENTER 0x80
#define KVSCOPE_STYLE_FASTMATH 0x100

// Size of a windowless instance.
#ifdef _WIN64
#define KVSCOPE_INSTANCE_SIZE 320  // the same fields with 64-bit pointers and handles
#else
#define KVSCOPE_INSTANCE_SIZE 200
#endif

// A block of interleaved float samples: frame n's pair is
// (samples[n * stride + first], samples[n * stride + second]).
typedef struct KvScopeBlock {
  const float* samples;
  int frames;
  int first;
  int second;
  int stride;
} KvScopeBlock;

// Paints the background of a windowless instance (part 1: the control's
// rectangle).
typedef void(CALLBACK* KvScopePaintCallback)(void* instance, HDC dc, const RECT* rect, int part, LPARAM user);

KV_EXTERN_C_BEGIN

BOOL KVAPI ScopeInitialize(HINSTANCE instance, const wchar_t* className);
BOOL KVAPI ScopeTerminate(HINSTANCE instance, const wchar_t* className);

int KVAPI ScopeInst_GetSize(void);
BOOL KVAPI ScopeInst_Init(void* instance, DWORD style, const RECT* rect, HWND owner, UINT id);
void* KVAPI ScopeInst_SetOwnerHwnd(void* instance, HWND owner);
BOOL KVAPI ScopeInst_Move(void* instance, const RECT* rect);
void KVAPI ScopeInst_Draw(void* instance, HDC dc, KvScopePaintCallback callback, LPARAM user);
LRESULT KVAPI ScopeInst_Message(void* instance, UINT msg, WPARAM wParam, LPARAM lParam);
void KVAPI ScopeInst_Deinit(void* instance);

LRESULT KVAPI ScopeInst_SetPos(void* instance, const KvScopeBlock* block);
LRESULT KVAPI ScopeInst_SetRange(void* instance, const float* range);
LRESULT KVAPI ScopeInst_SetColors(void* instance, WORD value, COLORREF color);
LRESULT KVAPI ScopeInst_SetTicks(void* instance, WORD value, COLORREF color);
LRESULT KVAPI ScopeInst_GetStyle(void* instance);
LRESULT KVAPI ScopeInst_SetStyle(void* instance, DWORD bits, BOOL set);
LRESULT KVAPI ScopeInst_GetCount(void* instance);
LRESULT KVAPI ScopeInst_SetCount(void* instance, int count, WORD update);
LRESULT KVAPI ScopeInst_SetFade(void* instance, const float* fade);
LRESULT KVAPI ScopeInst_SetEnabled(void* instance, BOOL enabled);
LRESULT KVAPI ScopeInst_Reset(void* instance, COLORREF color, WORD update);

LRESULT KVAPI KvScope_SetPos(HWND window, const KvScopeBlock* block);
LRESULT KVAPI KvScope_SetRange(HWND window, const float* range);
LRESULT KVAPI KvScope_SetColors(HWND window, WORD value, COLORREF color);
LRESULT KVAPI KvScope_SetTicks(HWND window, WORD value, COLORREF color);
LRESULT KVAPI KvScope_GetStyle(HWND window);
LRESULT KVAPI KvScope_SetStyle(HWND window, DWORD bits, BOOL set);
LRESULT KVAPI KvScope_GetCount(HWND window);
LRESULT KVAPI KvScope_SetCount(HWND window, int count, WORD update);
LRESULT KVAPI KvScope_SetFade(HWND window, const float* fade);
LRESULT KVAPI KvScope_SetEnabled(HWND window, BOOL enabled);
LRESULT KVAPI KvScope_Reset(HWND window, COLORREF color, WORD update);

KV_EXTERN_C_END

// Library-internal: the plot area of an instance and its pixels (top row
// first; each pixel blue, green, red, intensity), for tests.
struct KvScope_PlotView {
  RECT plot;
  int width, height;
  const BYTE* firstRow;
  int stride;
};
bool KvScope_GetPlot(const void* instance, KvScope_PlotView* view);
