// Bitmaps from resources and painting them into windows.
//
// A bitmap resource (RT_BITMAP) holds a packed device-independent bitmap: a
// 40-byte BITMAPINFOHEADER (little-endian) followed by its palette and rows.
// The text backends draw nothing: a picture copied into a window is noted with
// its size, and a dialog then shows it as a line "[picture W x H]" among its
// texts (and in the dialog log).
#pragma once

#include "winport/dialog.h"

using HBITMAP = uint32_t;
using HDC = uint32_t;
using HGDIOBJ = uint32_t;

inline constexpr DWORD SRCCOPY = 0x00CC0020;

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

// Bitmap `name` (MAKEINTRESOURCEA(id)) of `instance`; 0 when missing or malformed.
WINPORT_API HBITMAP LoadBitmapA(HINSTANCE instance, const char* name);
// For a bitmap: fills a BITMAP (size at least sizeof(BITMAP)) and returns its size; else 0.
WINPORT_API int GetObjectA(HGDIOBJ object, int size, void* buffer);
WINPORT_API BOOL DeleteObject(HGDIOBJ object);
// A device context drawing into `window` (a dialog or a control).
WINPORT_API HDC GetDC(HWND window);
WINPORT_API int ReleaseDC(HWND window, HDC context);
WINPORT_API HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
WINPORT_API BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// A memory context to select a bitmap into; `like` is ignored.
WINPORT_API HDC CreateCompatibleDC(HDC like);
WINPORT_API BOOL DeleteDC(HDC context);
// Selects a bitmap into a memory context; returns the one it replaces (0: none).
WINPORT_API HGDIOBJ SelectObject(HDC context, HGDIOBJ object);
// Copies from the bitmap selected in `source` into the window of `target`.
WINPORT_API BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX,
                        int sourceY, DWORD operation);
