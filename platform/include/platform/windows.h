#pragma once
// Every Win32-shaped declaration of the platform layer.
#include <platform/win32types.h>
#include <platform/text.h>
#include <platform/errors.h>
#include <platform/sync.h>
#include <platform/files.h>
#include <platform/dialogs.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/os.h>
#if __has_include(<platform/ui.h>)
#include <platform/ui.h>
#endif
#if __has_include(<platform/memory.h>)
#include <platform/memory.h>
#endif
