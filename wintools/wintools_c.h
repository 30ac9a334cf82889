/* C names of the helper library's routines that have C signatures (wintools.def).
   The other routines take C++ strings and are reached from C++ through wintools.h. */
#ifndef WINTOOLS_C_H
#define WINTOOLS_C_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

__declspec(dllimport) HRESULT CreateLink(const wchar_t *target, const wchar_t *linkFile,
                                         const wchar_t *description);
__declspec(dllimport) HICON extractIcon(const wchar_t *path, int size);
__declspec(dllimport) unsigned short getArchitecture(void);
__declspec(dllimport) void cp1251_to_utf8(char *out, const char *in);
/* 0 on success, otherwise the Windows error code. */
__declspec(dllimport) DWORD deleteFileA(const char *path);
__declspec(dllimport) DWORD deleteFileW(const wchar_t *path);
/* Non-zero (C++ bool, one byte) when an entry matches the path or pattern. */
__declspec(dllimport) unsigned char fileExistsA(const char *path);
__declspec(dllimport) unsigned char fileExistsW(const wchar_t *path);

#ifdef __cplusplus
}
#endif

#endif
