#pragma once

#include <optional>
#include <string_view>

#include "Mendkit/MKDeviceManager.h"

// The value held by a USB id attribute of sysfs (idVendor, idProduct): exactly four hex digits of
// either case, optionally followed by one newline. nullopt for anything else, including blanks,
// signs, a "0x" prefix and anything after the newline. Pure and thread-safe.
MK_EXPORT std::optional<unsigned> MKUsbIdFromText(std::string_view text);
