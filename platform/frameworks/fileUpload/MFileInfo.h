#pragma once

#include <stddef.h>

/* The record FileReport takes: three NUL-terminated texts in fixed fields, every other byte 0. */
typedef struct MFileInfo {
  char filePath[624];  /* the file to upload, UTF-8 */
  char uploadName[97]; /* the name it is uploaded under */
  char fileType[32];   /* the report type, a decimal number */
} MFileInfo;

#ifdef __cplusplus
static_assert(sizeof(MFileInfo) == 753, "MFileInfo is 753 bytes");
static_assert(offsetof(MFileInfo, filePath) == 0, "filePath at 0");
static_assert(offsetof(MFileInfo, uploadName) == 624, "uploadName at 624");
static_assert(offsetof(MFileInfo, fileType) == 721, "fileType at 721");
#else
_Static_assert(sizeof(MFileInfo) == 753, "MFileInfo is 753 bytes");
_Static_assert(offsetof(MFileInfo, filePath) == 0, "filePath at 0");
_Static_assert(offsetof(MFileInfo, uploadName) == 624, "uploadName at 624");
_Static_assert(offsetof(MFileInfo, fileType) == 721, "fileType at 721");
#endif
