// The NTFS library's C headers, with the system headers they assume.
#pragma once
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/volume.h>
}
// The library's headers define min and max as macros; they would break the
// standard library's templates in every file that follows.
#undef min
#undef max
static_assert(sizeof(ntfschar) == sizeof(char16_t), "NTFS names are UTF-16 units");
