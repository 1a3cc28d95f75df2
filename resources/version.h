/* The program's version and the firmware version of the image it carries, for the version
   resource. Plain macros: the resource compiler reads this file too. */
#pragma once

#define FWU_VERSION_MAJOR 1
#define FWU_VERSION_MINOR 0
#define FWU_VERSION_PATCH 0
#define FWU_VERSION_BUILD 0
#define FWU_VERSION_TEXT "1.0.0.0"

/* The firmware version that resources/firmware.hex holds: the one number the program, its image
   generator (tools/make_firmware.py) and its version resource take it from. */
#define FWU_FIRMWARE_VERSION 17

#define FWU_TEXT_OF(x) #x
#define FWU_TEXT(x) FWU_TEXT_OF(x)
#define FWU_FIRMWARE_VERSION_TEXT FWU_TEXT(FWU_FIRMWARE_VERSION)
