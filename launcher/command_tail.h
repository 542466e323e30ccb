#pragma once

#include <string>

using LeadByteTest = bool (*)(unsigned char byte);

// The command-line tail: the line without the program name (quoted or not) and the white space
// after it; the rest byte for byte.
std::string CutCommandTail(const char* commandLine, LeadByteTest isLeadByte);
