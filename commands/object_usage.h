// commands/object_usage.h - the usage text shared by dumpobject and dobr.
#pragma once

inline constexpr int kObjectUsageLineCount = 5;
inline const char* const kObjectUsage[kObjectUsageLineCount] = {
    "Dump object raw data\n",
    "<Input file> <object ID> [output file]\n",
    "<Input file> - Input .bin file\n",
    "<Object ID> - ID of the object to dump\n",
    "[output file] - Output text file, defaults to inputfile.data\n",
};
