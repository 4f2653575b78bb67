#pragma once

#include <stdint.h>

#include "fileUpload/MFileInfo.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses: 0 for success, negative errno values for failures. Both functions are thread-safe and
   safe across processes; they work in the user's statistics spool, whose uploads/ folder receives
   the uploaded files and whose uploads.jsonl numbers them, one line an upload. */

/* Makes sure the upload destination (the spool's uploads/ folder) exists. */
__attribute__((visibility("default"))) int32_t UpdateServerAddr(void);

/* Copies the regular file info->filePath into uploads/ as info->uploadName (replacing a file of
   that name) and records it in uploads.jsonl with its type. Refuses (-EINVAL) a field that is
   empty or not NUL-terminated within its bounds and an upload name that is "." or ".." or holds a
   "/". On success writes the upload number in decimal, NUL-terminated, into the buffer *reply
   points to, which must hold 20 bytes; nothing is written when reply or *reply is null. The
   buffer stays the caller's: it is never freed or replaced. */
__attribute__((visibility("default"))) int32_t FileReport(const MFileInfo* info, char** reply);

#ifdef __cplusplus
}
#endif
