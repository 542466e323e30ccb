#include "command_tail.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool NoLeadBytes(unsigned char) {
    return false;
}
// As in a double-byte code page such as 932: lead bytes 0x81-0x9F and 0xE0-0xFC.
bool ShiftJisLeadBytes(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

TEST(CommandTail, CutsTheProgramNameByTheByteRule) {
    struct Case {
        std::string line;
        LeadByteTest leadBytes;
        std::string tail;
    };
    const Case cases[] = {
        {"prog.exe a b", NoLeadBytes, "a b"},
        {"prog.exe", NoLeadBytes, ""},
        {"", NoLeadBytes, ""},
        {"prog.exe   a  b  ", NoLeadBytes, "a  b  "},
        {"prog.exe\t\ta", NoLeadBytes, "a"},
        {"\"C:\\My Programs\\prog.exe\" a \"b c\"", NoLeadBytes, "a \"b c\""},
        {"\"C:\\p.exe\"a", NoLeadBytes, "a"},     // no blank needed after the closing quote
        {"\"\" a", NoLeadBytes, "a"},             // empty program name
        {"\"C:\\p.exe a b", NoLeadBytes, ""},     // no closing quote: all is the name
        {"pro\"g.exe\" a", NoLeadBytes, "a"},     // a quote mid-word does not open a quoted name
        {"pr\xE9g\xFF.exe a", NoLeadBytes, "a"},  // bytes 0x80-0xFF belong to the name
        {"prog.exe \x01\x02 a", NoLeadBytes, "a"},
        {"prog.exe \"a\"\"b\" \\\"", NoLeadBytes, "\"a\"\"b\" \\\""},
        // A trail byte of 0x22 inside quotes belongs to its lead byte and closes nothing.
        {"\"\x83\x22.exe\" a", ShiftJisLeadBytes, "a"},
        {"\"\x83\x22.exe\" a", NoLeadBytes, ".exe\" a"},
        {"\"\x83", ShiftJisLeadBytes, ""},  // a lead byte at the very end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(CutCommandTail(c.line.c_str(), c.leadBytes), c.tail);
    }
}

}  // namespace
