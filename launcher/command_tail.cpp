#include "command_tail.h"

std::string CutCommandTail(const char* commandLine, LeadByteTest isLeadByte) {
    const auto* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            // A lead byte takes its trail byte with it, so a trail byte of 0x22 ends nothing.
            if (isLeadByte(*p) && p[1] != '\0') {
                ++p;
            }
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p > ' ') {
            ++p;
        }
    }
    while (*p != '\0' && *p <= ' ') {
        ++p;
    }
    return std::string(reinterpret_cast<const char*>(p));
}
