/* The C names of the library, called from C through the import library. */
#include "wintools_c.h"

#include <string.h>

unsigned short c_getArchitecture(void) { return getArchitecture(); }

int c_cp1251(const char *in, char *out) { cp1251_to_utf8(out, in); return (int)strlen(out); }

int c_fileExists(const wchar_t *wide, const char *narrow) { return fileExistsW(wide) && fileExistsA(narrow); }

unsigned long c_deleteFile(const wchar_t *wide, const char *narrow)
{
    return deleteFileW(wide) * 1000ul + deleteFileA(narrow);
}

long c_createLink(const wchar_t *target, const wchar_t *link) { return CreateLink(target, link, L"from C"); }

int c_extractIconIsNull(void) { return extractIcon(0, 0) == 0; }
